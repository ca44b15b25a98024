// The console number prompt behind every start-up menu.
#pragma once

// Prints prompt as it stands and reads lines
// from standard input until one holds a number in min..max, which it returns. At end of
// input it says so and ends the program through the fatal-exit sequence, status 1.
long ask_number(const char* prompt, long min, long max);
