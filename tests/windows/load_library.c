/* Loads a JNI library as HotSpot does on Windows: a plain LoadLibraryW of its absolute path, then
 * its JNI_OnLoad with the JavaVM. Run from a folder other than the library's, with neither this
 * program's folder nor PATH holding it, it shows whether a JVM can load the library wherever it
 * lies. The JavaVM here has just enough for JNI_OnLoad: GetEnv, and FindClass and ThrowNew to
 * raise an error, whose message this prints.
 *
 *   load_library LIBRARY DEPENDENCY           expects the load to succeed and DEPENDENCY (a DLL
 *                                             name) to come from LIBRARY's folder
 *   load_library LIBRARY DEPENDENCY --missing expects JNI_OnLoad to fail, naming DEPENDENCY
 *
 * LIBRARY may be a Unix path (wine's drive Z: is /). Exit code 0 when the expectation holds. */
#include <jni.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

static char thrown[4096];

static jclass JNICALL findClass(JNIEnv* env, const char* name) {
    (void)env;
    return strcmp(name, "java/lang/UnsatisfiedLinkError") == 0 ? (jclass)&thrown : NULL;
}

static jint JNICALL throwNew(JNIEnv* env, jclass type, const char* message) {
    (void)env;
    (void)type;
    snprintf(thrown, sizeof thrown, "%s", message);
    return 0;
}

static struct JNINativeInterface_ functions;
static JNIEnv environment = &functions;

static jint JNICALL getEnv(JavaVM* vm, void** env, jint version) {
    (void)vm;
    (void)version;
    *env = &environment;
    return JNI_OK;
}

static struct JNIInvokeInterface_ invocation;
static JavaVM machine = &invocation;

/* The folder part of `path`, with its last backslash, in `folder`. */
static void folderOf(const wchar_t* path, wchar_t* folder, size_t size) {
    wcsncpy(folder, path, size - 1);
    folder[size - 1] = L'\0';
    wchar_t* last = wcsrchr(folder, L'\\');
    if (last != NULL) {
        last[1] = L'\0';
    }
}

static int fail(const char* what) {
    printf("load_library: %s\n", what);
    return 1;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && wcscmp(argv[3], L"--missing") != 0)) {
        return fail("usage: load_library LIBRARY DEPENDENCY [--missing]");
    }
    const int missing = argc == 4;
    wchar_t library[MAX_PATH];
    if (argv[1][0] == L'/') {
        swprintf(library, MAX_PATH, L"Z:%ls", argv[1]);
    } else {
        swprintf(library, MAX_PATH, L"%ls", argv[1]);
    }
    for (wchar_t* c = library; *c != L'\0'; ++c) {
        if (*c == L'/') {
            *c = L'\\';
        }
    }
    wchar_t folder[MAX_PATH], here[MAX_PATH], program[MAX_PATH], programFolder[MAX_PATH];
    folderOf(library, folder, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, here);
    wcscat(here, L"\\");
    GetModuleFileNameW(NULL, program, MAX_PATH);
    folderOf(program, programFolder, MAX_PATH);
    static wchar_t path[32768];
    GetEnvironmentVariableW(L"PATH", path, 32768);
    wchar_t folderName[MAX_PATH];
    wcscpy(folderName, folder);
    folderName[wcslen(folderName) - 1] = L'\0';
    const int onPath = wcsstr(_wcslwr(path), _wcslwr(folderName)) != NULL;
    if (_wcsicmp(folder, here) == 0 || _wcsicmp(folder, programFolder) == 0 || onPath) {
        return fail("the library's folder is the current folder, this program's or on PATH");
    }

    functions.FindClass = findClass;
    functions.ThrowNew = throwNew;
    invocation.GetEnv = getEnv;

    HMODULE module = LoadLibraryW(library);
    if (module == NULL) {
        printf("load_library: LoadLibraryW failed with error %lu\n", GetLastError());
        return 1;
    }
    typedef jint(JNICALL * OnLoad)(JavaVM*, void*);
    OnLoad onLoad = (OnLoad)(void (*)(void))GetProcAddress(module, "JNI_OnLoad");
    if (onLoad == NULL) {
        return fail("the library has no JNI_OnLoad");
    }
    const jint version = onLoad(&machine, NULL);
    if (missing) {
        char expected[MAX_PATH];
        snprintf(expected, sizeof expected, "Cannot load %ls from", argv[2]);
        printf("load_library: JNI_OnLoad returned %ld: %s\n", (long)version, thrown);
        return version == JNI_ERR && strstr(thrown, expected) != NULL ? 0 : 1;
    }
    if (version == JNI_ERR) {
        printf("load_library: JNI_OnLoad failed: %s\n", thrown);
        return 1;
    }
    HMODULE dependency = GetModuleHandleW(argv[2]);
    wchar_t dependencyPath[MAX_PATH] = L"";
    if (dependency != NULL) {
        GetModuleFileNameW(dependency, dependencyPath, MAX_PATH);
    }
    wchar_t dependencyFolder[MAX_PATH];
    folderOf(dependencyPath, dependencyFolder, MAX_PATH);
    printf("load_library: loaded %ls (JNI version 0x%lx), %ls from %ls\n", library, (long)version,
           argv[2], dependencyPath);
    return _wcsicmp(dependencyFolder, folder) == 0 ? 0 : 1;
}
