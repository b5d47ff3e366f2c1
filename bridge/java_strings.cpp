#include "java_strings.h"

#include <new>
#include <vector>

#include "scoped_local_ref.h"

namespace diveconnector {

namespace {

void appendUtf8(std::string& text, char32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isHighSurrogate(jchar unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(jchar unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string utf8String(JNIEnv* env, jstring string) {
    const jsize length = env->GetStringLength(string);
    std::vector<jchar> units(static_cast<size_t>(length));
    env->GetStringRegion(string, 0, length, units.data());
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        throw std::bad_alloc();
    }

    std::string text;
    text.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const jchar unit = units[i];
        if (isHighSurrogate(unit) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            const char32_t high = unit - 0xD800;
            const char32_t low = units[++i] - 0xDC00;
            appendUtf8(text, 0x10000 + (high << 10) + low);
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(text, 0xFFFD);
        } else {
            appendUtf8(text, unit);
        }
    }
    return text;
}

std::string systemProperty(JNIEnv* env, const char* name) {
    const ScopedLocalRef<jclass> system(env, env->FindClass("java/lang/System"));
    const jmethodID getProperty =
        system.get() != nullptr ? env->GetStaticMethodID(system.get(), "getProperty",
                                                         "(Ljava/lang/String;)Ljava/lang/String;")
                                : nullptr;
    const ScopedLocalRef<jstring> key(env,
                                      getProperty != nullptr ? env->NewStringUTF(name) : nullptr);
    const ScopedLocalRef<jstring> value(env, key.get() != nullptr
                                                 ? static_cast<jstring>(env->CallStaticObjectMethod(
                                                       system.get(), getProperty, key.get()))
                                                 : nullptr);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return {};
    }
    return value.get() != nullptr ? utf8String(env, value.get()) : std::string();
}

}  // namespace diveconnector
