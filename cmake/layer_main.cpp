// The entry point of the layer checks (cmake/layers.cmake): programs that are linked, never run.
int main() {
    return 0;
}
