/* Stand-ins for the Palm Desktop's UserData.DLL, built three ways for the tests:
 * as it should be, without UmGetUserDirectory (FAKE_MISSING_EXPORT), and answering garbage
 * (FAKE_GARBAGE, its kind chosen through FakeSetMode). */
#include <string.h>
#include <windows.h>

#define EXPORT __declspec(dllexport)

struct User {
    DWORD id;
    const char* name;
    const char* dir;
};

/* Not in alphabetical order; the second name is Latin-1 ("Jürgen"), as the library's
 * texts are in the system's code page. */
static const struct User kUsers[] = {
    {2718u, "Zoe", "Zoe\\"},
    {0xFFFFFFF0u, "J\xFCrgen", "J\xFCrgen"},
    {42u, "Ann Lee", "AnnL\\"},
};

static int g_mode = 0;

EXPORT void FakeSetMode(int mode) {
    g_mode = mode;
}

static void Put(char* buffer, short* size, const char* text) {
    if (*size <= 0) return;
    strncpy(buffer, text, (size_t)*size - 1);
    buffer[*size - 1] = '\0';
}

EXPORT short WINAPI UmGetUserCount(void) {
#ifdef FAKE_GARBAGE
    if (g_mode == 1) return -3;
    if (g_mode == 2) return 4; /* one more than there are */
#endif
    return 3;
}

EXPORT long WINAPI UmGetUserID(short index, DWORD* id) {
    if (index < 0 || index >= 3) {
        *id = 0xDEADBEEFu;
        return -1;
    }
    *id = kUsers[index].id;
    return 0;
}

static const struct User* Find(DWORD id) {
    for (int i = 0; i < 3; ++i) {
        if (kUsers[i].id == id) return &kUsers[i];
    }
    return NULL;
}

EXPORT long WINAPI UmGetUserName(DWORD id, char* buffer, short* size) {
    const struct User* u = Find(id);
    if (!u) return -1;
#ifdef FAKE_GARBAGE
    if (g_mode == 2 && id == 2718u) {
        /* Fills all it was told, and past it, with no end, and claims a huge size. */
        memset(buffer, 'A', (size_t)*size + 100);
        *size = 32767;
        return 0;
    }
#endif
    Put(buffer, size, u->name);
    return 0;
}

EXPORT long WINAPI UmGetRootDirectory(char* buffer, short* size) {
#ifdef FAKE_GARBAGE
    if (g_mode == 3) {
        Put(buffer, size, "Palm\\Users"); /* not absolute */
        return 0;
    }
#endif
    Put(buffer, size, "C:\\Palm\\");
    return 0;
}

#ifndef FAKE_MISSING_EXPORT
EXPORT long WINAPI UmGetUserDirectory(DWORD id, char* buffer, short* size) {
    const struct User* u = Find(id);
    if (!u) return -1;
#ifdef FAKE_GARBAGE
    if (g_mode == 2 && id == 42u) {
        Put(buffer, size, "..\\..\\Windows\\System32");
        return 0;
    }
#endif
    Put(buffer, size, u->dir);
    return 0;
}
#endif
