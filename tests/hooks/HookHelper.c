/* A library that the dependent test plug-in links against; it lies beside the plug-in only. */
__attribute__((visibility("default"))) int hook_helper_answer(void) {
    return 42;
}
