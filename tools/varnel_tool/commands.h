// varnel-tool subcommands. Each takes the arguments after its own name and
// returns the process exit code; errors go to stderr as one line.
#pragma once

int tool_info(int argc, char** argv);          // info FILE.3ds
int tool_decode(int argc, char** argv);        // decode [--indexed] IN OUT.ppm
int tool_texture_info(int argc, char** argv);  // texture-info FILE.tga
int tool_demo(int argc, char** argv);          // demo DIR
int tool_split(int argc, char** argv);         // split [--force] K IN.3ds OUT.3ds
int tool_texture(int argc, char** argv);       // texture IN OUT.tga
int tool_font(int argc, char** argv);          // font TTF OUT.bmp
int tool_cone(int argc, char** argv);          // cone OUT.tga
int tool_histogram(int argc, char** argv);     // histogram [--force] Graph.txt OUT.png
int tool_soak_events(int argc, char** argv);   // soak-events FRAMES [SEED]
int tool_import(int argc, char** argv);        // import [--force] [--up x|y|z] [--scale S] MODEL DIR
