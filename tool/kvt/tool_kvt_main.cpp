// Program entry of kvt (placeholder until the utility is built).
int main() { return 0; }
