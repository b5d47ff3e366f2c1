/*
 * The machine-dependent JNI definitions of 64-bit Windows, for building the JNI library there with
 * the build machine's own jni.h (which is the same on every platform). A JDK for Windows has the
 * same definitions in include/win32/jni_md.h.
 */
#ifndef JNI_MD_H_WIN32
#define JNI_MD_H_WIN32

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
/* Ignored on x64, where there is one calling convention. */
#define JNICALL __stdcall

/* long is 32 bits on Windows (LLP64): jint is long there, as in the Windows JDK, so code that
 * takes jint for int fails to compile here, not in the application's JVM. */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
