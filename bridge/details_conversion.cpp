#include "details_conversion.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <vector>

#include "java_bindings.h"

namespace diveconnector {

namespace {

constexpr char kDetailsClass[] = "diveconnector.details.DiveDetails";
constexpr char kSamplesClass[] = "diveconnector.details.DiveSamples";
constexpr char kDetailsConstructor[] = "([J[D[I[D[I[DLdiveconnector/details/DiveSamples;)V";
constexpr char kSamplesConstructor[] = "([[D[[I)V";

// Where the Java side reads "absent".
constexpr jlong kAbsentLong = std::numeric_limits<jlong>::min();
constexpr jint kAbsentInt = -1;
constexpr double kAbsentDouble = std::numeric_limits<double>::quiet_NaN();

// The class `name` as the connector's own loader sees it, or null with an exception pending.
jclass findThroughConnector(JNIEnv* env, jobject connector, const char* name) {
    const ScopedLocalRef<jclass> owner(env, env->GetObjectClass(connector));
    const ScopedLocalRef<jclass> classClass(env, env->FindClass("java/lang/Class"));
    if (classClass.get() == nullptr) {
        return nullptr;
    }
    const jmethodID getClassLoader =
        env->GetMethodID(classClass.get(), "getClassLoader", "()Ljava/lang/ClassLoader;");
    if (getClassLoader == nullptr) {
        return nullptr;
    }
    const ScopedLocalRef<jobject> loader(env, env->CallObjectMethod(owner.get(), getClassLoader));
    if (env->ExceptionCheck()) {
        return nullptr;
    }
    return classForName(env, name, true, loader.get());
}

// No memory for the rows: the JVM's own answer to the same shortage.
jobject outOfMemory(JNIEnv* env) {
    const ScopedLocalRef<jclass> error(env, env->FindClass("java/lang/OutOfMemoryError"));
    if (error.get() != nullptr) {
        env->ThrowNew(error.get(), "Could not convert the dive's details.");
    }
    return nullptr;
}

jint unsignedInt(std::uint32_t value) {
    return static_cast<jint>(value);
}

jint optionalInt(const std::optional<std::uint32_t>& value) {
    return value ? unsignedInt(*value) : kAbsentInt;
}

template <typename T>
jlong optionalLong(const std::optional<T>& value) {
    return value ? static_cast<jlong>(*value) : kAbsentLong;
}

double optionalDouble(const std::optional<double>& value) {
    return value ? *value : kAbsentDouble;
}

// A new Java array holding `values`, or null with an exception pending.
template <typename Element, typename Array>
Array newArray(JNIEnv* env, const std::vector<Element>& values, Array (JNIEnv::*create)(jsize),
               void (JNIEnv::*fill)(Array, jsize, jsize, const Element*)) {
    const auto length = static_cast<jsize>(values.size());
    const Array array = (env->*create)(length);
    if (array != nullptr && length > 0) {
        (env->*fill)(array, 0, length, values.data());
    }
    return array;
}

jdoubleArray doubles(JNIEnv* env, const std::vector<jdouble>& values) {
    return newArray(env, values, &JNIEnv::NewDoubleArray, &JNIEnv::SetDoubleArrayRegion);
}

jintArray ints(JNIEnv* env, const std::vector<jint>& values) {
    return newArray(env, values, &JNIEnv::NewIntArray, &JNIEnv::SetIntArrayRegion);
}

// A new Java array of one element per reading, each `value(reading)`, written straight into the
// array; null with an exception pending.
template <typename Array, typename Element, typename T, typename Value>
Array column(JNIEnv* env, const std::vector<Reading<T>>& readings, Array (JNIEnv::*create)(jsize),
             Value value) {
    const auto length = static_cast<jsize>(readings.size());
    const Array array = (env->*create)(length);
    if (array == nullptr || length == 0) {
        return array;
    }
    // No JNI call between these two: the loop only stores numbers.
    auto* const elements = static_cast<Element*>(env->GetPrimitiveArrayCritical(array, nullptr));
    if (elements == nullptr) {
        env->DeleteLocalRef(array);
        return static_cast<Array>(env->ExceptionCheck() ? nullptr : outOfMemory(env));
    }
    for (jsize i = 0; i < length; ++i) {
        elements[i] = value(readings[static_cast<std::size_t>(i)]);
    }
    env->ReleasePrimitiveArrayCritical(array, elements, 0);
    return array;
}

template <typename T, typename Value>
jdoubleArray doubleColumn(JNIEnv* env, const std::vector<Reading<T>>& readings, Value value) {
    return column<jdoubleArray, jdouble>(env, readings, &JNIEnv::NewDoubleArray,
                                         [&](const Reading<T>& r) { return value(r.value); });
}

template <typename T, typename Value>
jintArray intColumn(JNIEnv* env, const std::vector<Reading<T>>& readings, Value value) {
    return column<jintArray, jint>(env, readings, &JNIEnv::NewIntArray,
                                   [&](const Reading<T>& r) { return value(r.value); });
}

// The index of the time sample each reading belongs to.
template <typename T>
jintArray sampleIndices(JNIEnv* env, const std::vector<Reading<T>>& readings) {
    return column<jintArray, jint>(env, readings, &JNIEnv::NewIntArray,
                                   [](const Reading<T>& r) { return r.sample; });
}

double plainDouble(const double& value) {
    return value;
}

jint plainInt(const std::uint32_t& value) {
    return unsignedInt(value);
}

// One row of an array of arrays: makes its array, or null with an exception pending.
using RowMaker = std::function<jarray()>;

// An array of the rows' arrays, made one after the other; null with an exception pending.
jobjectArray arrayOfRows(JNIEnv* env, jclass elementClass, const std::vector<RowMaker>& rows) {
    const ScopedLocalRef<jobjectArray> outer(
        env, env->NewObjectArray(static_cast<jsize>(rows.size()), elementClass, nullptr));
    if (outer.get() == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ScopedLocalRef<jarray> row(env, rows[i]());
        if (row.get() == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(outer.get(), static_cast<jsize>(i), row.get());
    }
    return static_cast<jobjectArray>(env->NewLocalRef(outer.get()));
}

// The sample lists as the rows DiveSamples' constructor takes, in its order.
std::vector<RowMaker> doubleRows(JNIEnv* env, const DetailSamples& s) {
    return {
        [env, &s] { return doubles(env, s.times); },
        [env, &s] { return doubleColumn(env, s.depths, plainDouble); },
        [env, &s] {
            return doubleColumn(env, s.pressures, [](const TankPressure& p) { return p.bar; });
        },
        [env, &s] { return doubleColumn(env, s.temperatures, plainDouble); },
        [env, &s] { return doubleColumn(env, s.setpoints, plainDouble); },
        [env, &s] { return doubleColumn(env, s.ppo2, [](const Ppo2Value& p) { return p.bar; }); },
        [env, &s] { return doubleColumn(env, s.cns, plainDouble); },
        [env, &s] {
            return doubleColumn(env, s.deco, [](const DecoStatus& d) { return d.depth; });
        },
    };
}

std::vector<RowMaker> intRows(JNIEnv* env, const DetailSamples& s) {
    return {
        [env, &s] { return sampleIndices(env, s.depths); },
        [env, &s] { return sampleIndices(env, s.pressures); },
        [env, &s] {
            return intColumn(env, s.pressures,
                             [](const TankPressure& p) { return unsignedInt(p.tank); });
        },
        [env, &s] { return sampleIndices(env, s.temperatures); },
        [env, &s] { return sampleIndices(env, s.events); },
        [env, &s] {
            return intColumn(env, s.events,
                             [](const SampleEvent& e) { return unsignedInt(e.type); });
        },
        [env, &s] {
            return intColumn(env, s.events,
                             [](const SampleEvent& e) { return unsignedInt(e.time); });
        },
        [env, &s] {
            return intColumn(env, s.events,
                             [](const SampleEvent& e) { return unsignedInt(e.flags); });
        },
        [env, &s] {
            return intColumn(env, s.events,
                             [](const SampleEvent& e) { return unsignedInt(e.value); });
        },
        [env, &s] { return sampleIndices(env, s.remainingBottomTimes); },
        [env, &s] { return intColumn(env, s.remainingBottomTimes, plainInt); },
        [env, &s] { return sampleIndices(env, s.heartRates); },
        [env, &s] { return intColumn(env, s.heartRates, plainInt); },
        [env, &s] { return sampleIndices(env, s.bearings); },
        [env, &s] { return intColumn(env, s.bearings, plainInt); },
        [env, &s] { return sampleIndices(env, s.setpoints); },
        [env, &s] { return sampleIndices(env, s.ppo2); },
        [env, &s] {
            return intColumn(env, s.ppo2, [](const Ppo2Value& p) { return optionalInt(p.sensor); });
        },
        [env, &s] { return sampleIndices(env, s.cns); },
        [env, &s] { return sampleIndices(env, s.deco); },
        [env, &s] {
            return intColumn(env, s.deco, [](const DecoStatus& d) { return unsignedInt(d.type); });
        },
        [env, &s] {
            return intColumn(env, s.deco, [](const DecoStatus& d) { return unsignedInt(d.time); });
        },
        [env, &s] {
            return intColumn(env, s.deco,
                             [](const DecoStatus& d) { return optionalInt(d.timeToSurface); });
        },
        [env, &s] { return sampleIndices(env, s.gasSwitches); },
        [env, &s] { return intColumn(env, s.gasSwitches, plainInt); },
    };
}

}  // namespace

DetailsConversion::DetailsConversion(JNIEnv* env, jobject connector) noexcept
    : env_(env),
      detailsClass_(env, findThroughConnector(env, connector, kDetailsClass)),
      samplesClass_(env, env->ExceptionCheck()
                             ? nullptr
                             : findThroughConnector(env, connector, kSamplesClass)),
      doubleArrayClass_(env, env->ExceptionCheck() ? nullptr : env->FindClass("[D")),
      intArrayClass_(env, env->ExceptionCheck() ? nullptr : env->FindClass("[I")) {
    if (intArrayClass_.get() == nullptr) {
        return;
    }
    detailsInit_ = env->GetMethodID(detailsClass_.get(), "<init>", kDetailsConstructor);
    if (detailsInit_ != nullptr) {
        samplesInit_ = env->GetMethodID(samplesClass_.get(), "<init>", kSamplesConstructor);
    }
}

jobject DetailsConversion::convertSamples(const DetailSamples& samples) noexcept {
    try {
        const ScopedLocalRef<jobjectArray> javaDoubles(
            env_, arrayOfRows(env_, doubleArrayClass_.get(), doubleRows(env_, samples)));
        if (javaDoubles.get() == nullptr) {
            return nullptr;
        }
        const ScopedLocalRef<jobjectArray> javaInts(
            env_, arrayOfRows(env_, intArrayClass_.get(), intRows(env_, samples)));
        if (javaInts.get() == nullptr) {
            return nullptr;
        }
        return env_->NewObject(samplesClass_.get(), samplesInit_, javaDoubles.get(),
                               javaInts.get());
    } catch (const std::bad_alloc&) {
        return outOfMemory(env_);
    }
}

jobject DetailsConversion::convert(const DiveDetails& d) noexcept {
    const ScopedLocalRef<jobject> samples(env_, convertSamples(d.samples));
    if (samples.get() == nullptr) {
        return nullptr;
    }
    try {
        const std::optional<DecoModelDetail>& model = d.decoModel;
        const std::vector<jlong> header = {
            optionalLong(d.timezone),
            optionalLong(d.diveMode),
            model ? static_cast<jlong>(model->type) : kAbsentLong,
            model ? static_cast<jlong>(model->conservatism) : kAbsentLong,
            model ? static_cast<jlong>(model->gradientFactorLow) : kAbsentLong,
            model ? static_cast<jlong>(model->gradientFactorHigh) : kAbsentLong,
            d.salinity ? static_cast<jlong>(d.salinity->type) : kAbsentLong,
        };
        const std::vector<jdouble> measures = {
            optionalDouble(d.averageDepth),
            optionalDouble(d.atmospheric),
            optionalDouble(d.surfaceTemperature),
            optionalDouble(d.minimumTemperature),
            optionalDouble(d.maximumTemperature),
            d.salinity ? d.salinity->density : kAbsentDouble,
            d.location ? d.location->latitude : kAbsentDouble,
            d.location ? d.location->longitude : kAbsentDouble,
            d.location ? d.location->altitude : kAbsentDouble,
        };
        std::vector<jint> mixCodes;
        std::vector<jdouble> mixFractions;
        for (std::size_t i = 0; i < d.gasMixes.size(); ++i) {
            if (const auto& mix = d.gasMixes[i]) {
                mixCodes.insert(mixCodes.end(), {static_cast<jint>(i), optionalInt(mix->usage)});
                mixFractions.insert(mixFractions.end(), {mix->oxygen, mix->helium, mix->nitrogen});
            }
        }
        std::vector<jint> tankCodes;
        std::vector<jdouble> tankValues;
        for (std::size_t i = 0; i < d.tanks.size(); ++i) {
            if (const auto& tank = d.tanks[i]) {
                tankCodes.insert(tankCodes.end(),
                                 {static_cast<jint>(i), optionalInt(tank->gasMix),
                                  unsignedInt(tank->volumeType), optionalInt(tank->usage)});
                tankValues.insert(tankValues.end(), {tank->volume, tank->workPressure,
                                                     tank->beginPressure, tank->endPressure});
            }
        }
        const ScopedLocalRef<jlongArray> javaHeader(
            env_, newArray(env_, header, &JNIEnv::NewLongArray, &JNIEnv::SetLongArrayRegion));
        if (javaHeader.get() == nullptr) {
            return nullptr;
        }
        const ScopedLocalRef<jdoubleArray> javaMeasures(env_, doubles(env_, measures));
        if (javaMeasures.get() == nullptr) {
            return nullptr;
        }
        const ScopedLocalRef<jintArray> javaMixCodes(env_, ints(env_, mixCodes));
        if (javaMixCodes.get() == nullptr) {
            return nullptr;
        }
        const ScopedLocalRef<jdoubleArray> javaMixFractions(env_, doubles(env_, mixFractions));
        if (javaMixFractions.get() == nullptr) {
            return nullptr;
        }
        const ScopedLocalRef<jintArray> javaTankCodes(env_, ints(env_, tankCodes));
        if (javaTankCodes.get() == nullptr) {
            return nullptr;
        }
        const ScopedLocalRef<jdoubleArray> javaTankValues(env_, doubles(env_, tankValues));
        if (javaTankValues.get() == nullptr) {
            return nullptr;
        }
        return env_->NewObject(detailsClass_.get(), detailsInit_, javaHeader.get(),
                               javaMeasures.get(), javaMixCodes.get(), javaMixFractions.get(),
                               javaTankCodes.get(), javaTankValues.get(), samples.get());
    } catch (const std::bad_alloc&) {
        return outOfMemory(env_);
    }
}

}  // namespace diveconnector
