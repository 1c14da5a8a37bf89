/* A loadable module for the library-loading tests. */
int upk_test_answer(void) { return 42; }
