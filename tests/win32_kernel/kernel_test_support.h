// Shared fixture of the kernel stand-in tests: fresh folders for every test, and
// the program folder put back afterwards.
#pragma once

#include "../support/temp_folders.h"
#include "win32ext.h"
#include "windows.h"

class KernelTest : public TempFolders {
  protected:
    void TearDown() override {
        Win32TestSetProgramDir(nullptr);
        TempFolders::TearDown();
    }
};
