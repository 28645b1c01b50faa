// Program entry of boneanim (placeholder until the run is built).
int main() { return 0; }
