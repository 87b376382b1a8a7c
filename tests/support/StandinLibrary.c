/* A library that stands in for libavcodec in the binding tests: it loads, but exports only one
 * of the entries the binder looks for. */
unsigned avcodec_version(void) {
    return 0;
}
