// The entry point of the terminal programs: the display back-end and clock are chosen at link time.
#include "show/timeline.h"

int main(int argc, char** argv)
{
    return show_main(argc, argv);
}
