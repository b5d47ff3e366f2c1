// Windows looks for the DLLs that a DLL imports in the application's folder (java.exe's), the
// system folders, the current folder and PATH, never in the folder of the DLL being loaded: a JVM
// that loads diveconnector.dll by its absolute path would fail with error 126 if libdivecomputer
// (or dcsim) were an ordinary import. It is a delayed import instead (cmake/delay_import.cmake),
// and JNI_OnLoad, which the JVM calls before any native method, loads it from this DLL's own
// folder. The delayed imports then find that module loaded under its name; libdivecomputer's own
// imports (libusb, hidapi) come from the same folder. Replacing the DLL beside diveconnector.dll
// replaces the libdivecomputer the library uses.
#include <jni.h>
#include <windows.h>

#include <string>

namespace {

// The folder of the module holding this code, with its trailing backslash; empty when Windows
// cannot tell.
std::wstring ownFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ownFolder), &self)) {
        return {};
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::string utf8(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
    return narrow;
}

}  // namespace

// Fails the JVM's System.load with an UnsatisfiedLinkError naming the DLL, its folder and the
// Windows error when the DLL cannot be loaded. The module stays loaded for the process's life,
// as the delayed imports need it.
extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
    try {
        const std::wstring folder = ownFolder();
        const std::wstring path = folder + L"" DIVECONNECTOR_LIBDIVECOMPUTER_DLL;
        // With an absolute path, this flag makes the DLL's own imports come from its folder too.
        if (!folder.empty() &&
            LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr) {
            return JNI_VERSION_1_8;
        }
        const DWORD error = GetLastError();
        const std::string message = "Cannot load " DIVECONNECTOR_LIBDIVECOMPUTER_DLL " from \"" +
                                    utf8(folder) + "\" (Windows error " + std::to_string(error) +
                                    ").";
        JNIEnv* env = nullptr;
        if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8) == JNI_OK) {
            if (const jclass linkError = env->FindClass("java/lang/UnsatisfiedLinkError")) {
                env->ThrowNew(linkError, message.c_str());
            }
        }
    } catch (...) {
        // Out of memory for a message: the JVM reports the failed load on its own.
    }
    return JNI_ERR;
}
