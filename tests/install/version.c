/* The C recipe: call an export of libquarlrpc.so through quarlrpc.h. */
#include <quarlrpc.h>
#include <stdio.h>

int main(void) {
    char buffer[20];
    GetVersion(buffer, (int16_t)sizeof buffer);
    printf("%.*s\n", (int)sizeof buffer, buffer);
    return buffer[0] == '*';
}
