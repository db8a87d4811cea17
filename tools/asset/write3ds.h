// 3DS writer: a SceneBuild as a standard chunk tree.
//
//   0x4D4D main
//     0x0002 version
//     0x3D3D editor
//       0x3D3E mesh version
//       0xAFFF material entry: 0xA000 name, 0xA020 diffuse colour (0x0011),
//              0xA200 texture map (0x0030 strength, 0xA300 file name)
//       0x4000 named object
//         0x4100 triangle mesh: 0x4110 vertices, 0x4140 mapping coordinates,
//                0x4160 mesh matrix (identity), 0x4120 faces with one
//                0x4130 material group per material used
//
// The file is z-up: every engine position (x, y, z) is written as (x, z, y).
// Materials come before the objects so that readers resolving material
// groups by name already know them.
#pragma once

#include "asset/asset_file.h"
#include "asset/mesh.h"

// 0 with a reason in write3ds_error() when a mesh exceeds 65535 vertices or
// faces, a name is longer than 63 characters or a face has no material.
int scene_encode_3ds(const SceneBuild* scene, ByteBuffer* out);
const char* write3ds_error();
