#pragma once

// Fortran-style fixed-point fields (F14.3 and the like) as printf's "%*.*f" writes them, digit for digit, without
// printf's cost: a RINEX file holds millions of them.

// Writes `value` right-aligned in exactly `width` characters with `decimals` digits after the point, rounded to
// nearest with ties to even on the exact binary value (as printf rounds), "-" before a negative value also when it
// rounds to zero. False, with `out` untouched, when the value is not finite or needs more than `width` characters.
bool WriteFixed(char* out, double value, int width, int decimals);
