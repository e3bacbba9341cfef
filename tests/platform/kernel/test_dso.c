int hx_kernel_test_dso_value(int x) { return x * 7; }
