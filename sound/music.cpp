// The music subsystem; silent until the player process is built.
#include "sound/music.h"

void music_setup() {}
int music_load(const char*) { return 0; }
void music_start() {}
void music_stop() {}
void music_shutdown() {}
