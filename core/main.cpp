// The entry point of every program: the display back-end and clock are chosen at link time.
#include "core/demo.h"

int main(int argc, char** argv)
{
    return demo_main(argc, argv);
}
