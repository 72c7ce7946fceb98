/* A program that only carries icons, for counting them. */
int main(void) { return 0; }
