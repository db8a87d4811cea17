// The texture of faces that have none.
#pragma once

struct Texture;

// Grey checker used for faces without a material or without a usable
// texture: 8 x 8 texels at level (0, 0), three levels per axis. Built on
// first use, never freed; safe to call from several threads.
Texture* pipeline_neutral_texture();
