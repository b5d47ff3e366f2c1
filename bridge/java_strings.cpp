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

void appendUtf16(std::vector<jchar>& units, char32_t code) {
    if (code < 0x10000) {
        units.push_back(static_cast<jchar>(code));
    } else {
        units.push_back(static_cast<jchar>(0xD800 + ((code - 0x10000) >> 10)));
        units.push_back(static_cast<jchar>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    }
}

// The code point of the well-formed UTF-8 sequence at `at`, advancing past it; nothing, and no
// advance, when the bytes there form none (overlong forms and surrogates included).
bool decodeUtf8(const std::string& text, size_t& at, char32_t& code) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        code = lead;
        ++at;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        smallest = 0x80;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        smallest = 0x800;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        smallest = 0x10000;
        code = lead & 0x07;
    } else {
        return false;
    }
    if (at + length > text.size()) {
        return false;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return false;
        }
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return false;
    }
    at += length;
    return true;
}

}  // namespace

jstring javaString(JNIEnv* env, const std::string& text) {
    std::vector<jchar> units;
    units.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        char32_t code = 0;
        if (!decodeUtf8(text, at, code)) {
            code = 0xFFFD;
            ++at;
        }
        appendUtf16(units, code);
    }
    // An empty vector's data() may be null, which JNI's checks refuse even for length 0.
    const jchar none = 0;
    return env->NewString(units.empty() ? &none : units.data(), static_cast<jsize>(units.size()));
}

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
