#pragma once

// Bar position of a progress call: Trunc((1 - (total - done) / total) * 100),
// each step rounded to the 64-bit mantissa of the x87 extended format. The
// rounding makes some positions one below the plain percentage (1 of 100 is
// 0) while done == total always gives 100. Not clamped.
int ProgressPosition(int done, int total);
