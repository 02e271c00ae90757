// The objects of a .x body: frames and their matrices, meshes with their normals, texture
// coordinates and material lists, materials; everything else is read past.
#pragma once

#include "source.h"

#include <xfile/xfile.h>

#include <string>

namespace xfile::detail {

// Reads a whole body of text or binary tokens into `model`. False, with a reason in `error`,
// when the body is not a sound .x file.
bool read_objects(Source& body, bool text, bool doubles, Model& model, const Limits& limits,
                  std::string& error);

} // namespace xfile::detail
