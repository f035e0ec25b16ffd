// UNBUILT: placeholder admin command.
#include <cstdio>
int main() { std::fprintf(stderr, "weborvane-admin: not built yet\n"); return 1; }
