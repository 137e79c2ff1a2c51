// Preloaded in the leak-checked run: keeps dlopened modules (the GL drivers Mesa and SDL load
// and unload) mapped, so leak reports from them can be attributed and suppressed.
int dlclose(void* handle) {
    (void)handle;
    return 0;
}
