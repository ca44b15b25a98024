// The sine and cosine tables; empty until the effect primitives are built.
#include "fx/tables.h"

int32_t sine_table[kTableSize];
int32_t cosine_table[kTableSize];

void tables_init() {}
