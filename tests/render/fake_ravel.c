/* A library named like the rendering library that lacks most entry points. */
int LS_LoadLibrary(const char *name) {
    (void)name;
    return 1;
}
