// COM-style base interface of the graphics stand-in.
#pragma once

#include <windows.h>

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, LPVOID* object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

extern const GUID IID_IUnknown;
