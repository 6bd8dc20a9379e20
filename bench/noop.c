/* A Windows program that does nothing: what starting any program under Wine costs. */
int main(void) { return 0; }
