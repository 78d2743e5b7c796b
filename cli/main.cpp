#include <cstdio>

int main() {
    std::puts("quendrix-batch");
    return 0;
}
