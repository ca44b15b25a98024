// The entry point of the browser programs, called by the page once the data is in place.
// The show ends through exit, also when it ends early, so the page hears of every end alike.
#include <cstdlib>

#include "show/timeline.h"

int main(int argc, char** argv)
{
    std::exit(show_main(argc, argv));
}
