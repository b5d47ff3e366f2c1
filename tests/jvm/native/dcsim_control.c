/* JNI side of diveconnector.testing.DcSim: the dcsim controls for the JVM tests. Linked against
 * the same libdcsim as the JNI library under test, so both act on one simulated state. */
#include <dcsim.h>
#include <jni.h>

static void throw_java(JNIEnv* env, const char* class_name, const char* message) {
    jclass type = (*env)->FindClass(env, class_name);
    if (type != NULL) {
        (*env)->ThrowNew(env, type, message);
    }
}

/* A UTF-8 copy of a Java string, or NULL with a Java exception pending. */
static const char* utf(JNIEnv* env, jstring text) {
    if (text == NULL) {
        throw_java(env, "java/lang/NullPointerException", "dcsim control called with null text");
        return NULL;
    }
    return (*env)->GetStringUTFChars(env, text, NULL);
}

JNIEXPORT void JNICALL Java_diveconnector_testing_DcSim_reset(JNIEnv* env, jclass type) {
    (void)env;
    (void)type;
    dcsim_reset();
}

JNIEXPORT void JNICALL Java_diveconnector_testing_DcSim_descriptorsBuiltin(JNIEnv* env,
                                                                           jclass type) {
    (void)env;
    (void)type;
    dcsim_descriptors_builtin();
}

JNIEXPORT void JNICALL Java_diveconnector_testing_DcSim_descriptorsClear(JNIEnv* env, jclass type) {
    (void)env;
    (void)type;
    dcsim_descriptors_clear();
}

JNIEXPORT jint JNICALL Java_diveconnector_testing_DcSim_loadTsv(JNIEnv* env, jclass type,
                                                                jstring path) {
    (void)type;
    const char* file = utf(env, path);
    if (file == NULL) {
        return -1;
    }
    int count = dcsim_descriptors_load_tsv(file);
    (*env)->ReleaseStringUTFChars(env, path, file);
    return count;
}

JNIEXPORT void JNICALL Java_diveconnector_testing_DcSim_descriptorsAdd(JNIEnv* env, jclass type,
                                                                       jstring vendor,
                                                                       jstring product, jint family,
                                                                       jint model,
                                                                       jint transports) {
    (void)type;
    const char* vendor_text = utf(env, vendor);
    if (vendor_text == NULL) {
        return;
    }
    const char* product_text = utf(env, product);
    if (product_text != NULL) {
        dcsim_descriptors_add(vendor_text, product_text, (unsigned int)family, (unsigned int)model,
                              (unsigned int)transports);
        (*env)->ReleaseStringUTFChars(env, product, product_text);
    }
    (*env)->ReleaseStringUTFChars(env, vendor, vendor_text);
}

JNIEXPORT jint JNICALL Java_diveconnector_testing_DcSim_armFault(JNIEnv* env, jclass type,
                                                                 jstring function, jint nth,
                                                                 jint status) {
    (void)type;
    const char* name = utf(env, function);
    if (name == NULL) {
        return -1;
    }
    int result = dcsim_fault(name, (unsigned int)nth, (dc_status_t)status);
    (*env)->ReleaseStringUTFChars(env, function, name);
    return result;
}

JNIEXPORT void JNICALL Java_diveconnector_testing_DcSim_faultsClear(JNIEnv* env, jclass type) {
    (void)env;
    (void)type;
    dcsim_faults_clear();
}

JNIEXPORT jint JNICALL Java_diveconnector_testing_DcSim_calls(JNIEnv* env, jclass type,
                                                              jstring function) {
    (void)type;
    const char* name = utf(env, function);
    if (name == NULL) {
        return 0;
    }
    unsigned int calls = dcsim_calls(name);
    (*env)->ReleaseStringUTFChars(env, function, name);
    return (jint)calls;
}

JNIEXPORT jint JNICALL Java_diveconnector_testing_DcSim_liveOf(JNIEnv* env, jclass type,
                                                               jint kind) {
    (void)env;
    (void)type;
    return dcsim_live((dcsim_handle_t)kind);
}

JNIEXPORT jint JNICALL Java_diveconnector_testing_DcSim_liveTotal(JNIEnv* env, jclass type) {
    (void)env;
    (void)type;
    return dcsim_live_total();
}

JNIEXPORT jstring JNICALL Java_diveconnector_testing_DcSim_handleName(JNIEnv* env, jclass type,
                                                                      jint kind) {
    (void)type;
    return (*env)->NewStringUTF(env, dcsim_handle_name((dcsim_handle_t)kind));
}

JNIEXPORT jint JNICALL Java_diveconnector_testing_DcSim_attachText(JNIEnv* env, jclass type,
                                                                   jstring scenario) {
    (void)type;
    const char* text = utf(env, scenario);
    if (text == NULL) {
        return -1;
    }
    int result = dcsim_attach(text);
    (*env)->ReleaseStringUTFChars(env, scenario, text);
    return result;
}

JNIEXPORT jint JNICALL Java_diveconnector_testing_DcSim_attachPath(JNIEnv* env, jclass type,
                                                                   jstring path) {
    (void)type;
    const char* file = utf(env, path);
    if (file == NULL) {
        return -1;
    }
    int result = dcsim_attach_file(file);
    (*env)->ReleaseStringUTFChars(env, path, file);
    return result;
}

JNIEXPORT void JNICALL Java_diveconnector_testing_DcSim_detachAll(JNIEnv* env, jclass type) {
    (void)env;
    (void)type;
    dcsim_detach_all();
}

JNIEXPORT void JNICALL Java_diveconnector_testing_DcSim_setVersion(JNIEnv* env, jclass type,
                                                                   jint major, jint minor,
                                                                   jint micro) {
    (void)env;
    (void)type;
    dcsim_set_version((unsigned int)major, (unsigned int)minor, (unsigned int)micro);
}

JNIEXPORT jstring JNICALL Java_diveconnector_testing_DcSim_lastError(JNIEnv* env, jclass type) {
    (void)type;
    const char* reason = dcsim_last_error();
    return (*env)->NewStringUTF(env, reason != NULL ? reason : "");
}
