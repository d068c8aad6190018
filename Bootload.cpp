// placeholder main block: being written
int main() { return 0; }
