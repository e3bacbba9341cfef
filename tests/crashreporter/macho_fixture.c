/* A freestanding image for the Mach-O reader tests: code, constant data, a common symbol and a
   local function. */
int fixture_counter;
static int helper(int x) { return x * 3 + fixture_counter; }
int fixture_add(int a, int b) { return helper(a) + b; }
int fixture_mul(int a, int b) {
    int r = 0;
    for (int i = 0; i < b; ++i) r += fixture_add(a, i);
    return r;
}
const char fixture_text[] = "fixture";
int main(void) { return fixture_mul(2, 3); }
