// Loaded by the module tests: one exported function that says which copy it is.
extern "C" __attribute__((visibility("default"))) int wemu_testmod_answer()
{
    return 42;
}
