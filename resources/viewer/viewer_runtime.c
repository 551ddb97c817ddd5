/* The few C library routines the compiler may call on its own (structure copies),
 * for the handheld build, which links no C library. */
#include <stddef.h>
#include <stdint.h>

void* memcpy(void* dst, const void* src, size_t n);
void* memset(void* dst, int value, size_t n);

void* memcpy(void* dst, const void* src, size_t n) {
    uint8_t* d = (uint8_t*)dst;
    const uint8_t* s = (const uint8_t*)src;
    while (n-- > 0) {
        *d++ = *s++;
    }
    return dst;
}

void* memset(void* dst, int value, size_t n) {
    uint8_t* d = (uint8_t*)dst;
    while (n-- > 0) {
        *d++ = (uint8_t)value;
    }
    return dst;
}
