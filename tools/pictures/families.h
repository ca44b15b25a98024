// The families of pictures: each draws its own files and saves them; the picture maker runs them in turn.
#pragma once

#include "tools/pictures/common.h"

// Each writes its files below out.dir, counting those it cannot write in out.failures;
// make_pictures calls each once.
void make_presents(Out& out);      // the presents screen's title on brushed metal
void make_landscapes(Out& out);    // the intro's landscape and the picture set's day
void make_lettering(Out& out);     // the intro's lettering sheet and the scroll's words
void make_textures(Out& out);      // the blobs' marble and tiles
void make_still_lifes(Out& out);   // the picture set's ray-traced balls, still life and cube
void make_fire_pictures(Out& out); // the fire part's skull and dancing figure
void make_closing(Out& out);       // the closing picture, in colour
