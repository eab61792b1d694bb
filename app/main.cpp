// Entry point of the ondrelix program.
int main() { return 0; }
