/* JNI side of diveconnector.testing.FailingNew. The allocator lives in libfailing_new, which a
 * test preloads into a child JVM; it is looked up at run time because only that JVM has it. */
#include <dlfcn.h>
#include <jni.h>
#include <string.h>

typedef void (*arm_function)(unsigned long nth);
typedef int (*disarm_function)(void);

static void* preloaded(const char* name) {
    return dlsym(RTLD_DEFAULT, name);
}

static void throw_not_preloaded(JNIEnv* env) {
    jclass type = (*env)->FindClass(env, "java/lang/IllegalStateException");
    if (type != NULL) {
        (*env)->ThrowNew(env, type, "libfailing_new is not preloaded (LD_PRELOAD)");
    }
}

JNIEXPORT jboolean JNICALL Java_diveconnector_testing_FailingNew_available(JNIEnv* env,
                                                                           jclass type) {
    (void)env;
    (void)type;
    return preloaded("failing_new_arm") != NULL && preloaded("failing_new_disarm") != NULL;
}

JNIEXPORT void JNICALL Java_diveconnector_testing_FailingNew_arm(JNIEnv* env, jclass type,
                                                                 jlong nth) {
    (void)type;
    void* symbol = preloaded("failing_new_arm");
    if (symbol == NULL) {
        throw_not_preloaded(env);
        return;
    }
    arm_function arm;
    /* ISO C has no cast from an object pointer to a function pointer; dlsym needs one. */
    memcpy(&arm, &symbol, sizeof arm);
    arm((unsigned long)nth);
}

JNIEXPORT jboolean JNICALL Java_diveconnector_testing_FailingNew_disarm(JNIEnv* env, jclass type) {
    (void)type;
    void* symbol = preloaded("failing_new_disarm");
    if (symbol == NULL) {
        throw_not_preloaded(env);
        return JNI_FALSE;
    }
    disarm_function disarm;
    memcpy(&disarm, &symbol, sizeof disarm);
    return disarm() != 0;
}
