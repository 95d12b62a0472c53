/* The floor: a Windows console program that only prints one line. Its time is what starting
   any program costs under Wine. */
#include <stdio.h>

int main(void) {
  puts("floor");
  return 0;
}
