// The console number prompt: asks again until a line holds a number in range.
#include "core/prompt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/shared.h"

long ask_number(const char* prompt, long min, long max)
{
    for (;;) {
        std::fputs(prompt, stdout);
        std::fflush(stdout);
        char line[256];
        std::memset(line, 0, sizeof line);
        if (std::fgets(line, 255, stdin) == nullptr) {
            // Nobody is left to answer: asking again would repeat for ever.
            std::printf("End of input: no answer given.\n");
            fatal_exit(true, 1);
        }
        // A lone line end (or a single character with no line end) is no answer.
        if (std::strlen(line) > 1) {
            long value = std::strtol(line, nullptr, 10);
            if (min <= value && value <= max)
                return value;
        }
    }
}
