#include "details_conversion.h"

#include <cmath>
#include <cstdint>
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

// An array of arrays, each made by `make`; null with an exception pending.
template <typename Element, typename Make>
jobjectArray arrayOfArrays(JNIEnv* env, jclass elementClass,
                           const std::vector<std::vector<Element>>& rows, Make make) {
    const ScopedLocalRef<jobjectArray> outer(
        env, env->NewObjectArray(static_cast<jsize>(rows.size()), elementClass, nullptr));
    if (outer.get() == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ScopedLocalRef<jobject> row(env, make(env, rows[i]));
        if (row.get() == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(outer.get(), static_cast<jsize>(i), row.get());
    }
    return static_cast<jobjectArray>(env->NewLocalRef(outer.get()));
}

// The sample lists as the rows DiveSamples' constructor takes, in its order.
struct SampleRows {
    std::vector<std::vector<jdouble>> doubles;
    std::vector<std::vector<jint>> ints;
};

template <typename T>
std::vector<jint> sampleIndices(const std::vector<Reading<T>>& readings) {
    std::vector<jint> indices;
    indices.reserve(readings.size());
    for (const Reading<T>& reading : readings) {
        indices.push_back(reading.sample);
    }
    return indices;
}

template <typename T, typename Element, typename Value>
std::vector<Element> column(const std::vector<Reading<T>>& readings, Value value) {
    std::vector<Element> values;
    values.reserve(readings.size());
    for (const Reading<T>& reading : readings) {
        values.push_back(value(reading.value));
    }
    return values;
}

template <typename T>
std::vector<jdouble> doubleColumn(const std::vector<Reading<T>>& readings,
                                  double (*value)(const T&)) {
    return column<T, jdouble>(readings, value);
}

template <typename T>
std::vector<jint> intColumn(const std::vector<Reading<T>>& readings, jint (*value)(const T&)) {
    return column<T, jint>(readings, value);
}

double plainDouble(const double& value) {
    return value;
}

jint plainInt(const std::uint32_t& value) {
    return unsignedInt(value);
}

SampleRows sampleRows(const DetailSamples& s) {
    SampleRows rows;
    rows.doubles = {
        s.times,
        doubleColumn(s.depths, plainDouble),
        doubleColumn<TankPressure>(s.pressures, [](const TankPressure& p) { return p.bar; }),
        doubleColumn(s.temperatures, plainDouble),
        doubleColumn(s.setpoints, plainDouble),
        doubleColumn<Ppo2Value>(s.ppo2, [](const Ppo2Value& p) { return p.bar; }),
        doubleColumn(s.cns, plainDouble),
        doubleColumn<DecoStatus>(s.deco, [](const DecoStatus& d) { return d.depth; }),
    };
    rows.ints = {
        sampleIndices(s.depths),
        sampleIndices(s.pressures),
        intColumn<TankPressure>(s.pressures,
                                [](const TankPressure& p) { return unsignedInt(p.tank); }),
        sampleIndices(s.temperatures),
        sampleIndices(s.events),
        intColumn<SampleEvent>(s.events, [](const SampleEvent& e) { return unsignedInt(e.type); }),
        intColumn<SampleEvent>(s.events, [](const SampleEvent& e) { return unsignedInt(e.time); }),
        intColumn<SampleEvent>(s.events, [](const SampleEvent& e) { return unsignedInt(e.flags); }),
        intColumn<SampleEvent>(s.events, [](const SampleEvent& e) { return unsignedInt(e.value); }),
        sampleIndices(s.remainingBottomTimes),
        intColumn(s.remainingBottomTimes, plainInt),
        sampleIndices(s.heartRates),
        intColumn(s.heartRates, plainInt),
        sampleIndices(s.bearings),
        intColumn(s.bearings, plainInt),
        sampleIndices(s.setpoints),
        sampleIndices(s.ppo2),
        intColumn<Ppo2Value>(s.ppo2, [](const Ppo2Value& p) { return optionalInt(p.sensor); }),
        sampleIndices(s.cns),
        sampleIndices(s.deco),
        intColumn<DecoStatus>(s.deco, [](const DecoStatus& d) { return unsignedInt(d.type); }),
        intColumn<DecoStatus>(s.deco, [](const DecoStatus& d) { return unsignedInt(d.time); }),
        intColumn<DecoStatus>(s.deco,
                              [](const DecoStatus& d) { return optionalInt(d.timeToSurface); }),
        sampleIndices(s.gasSwitches),
        intColumn(s.gasSwitches, plainInt),
    };
    return rows;
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
        const SampleRows rows = sampleRows(samples);
        const ScopedLocalRef<jobjectArray> doubleRows(
            env_, arrayOfArrays(env_, doubleArrayClass_.get(), rows.doubles, doubles));
        if (doubleRows.get() == nullptr) {
            return nullptr;
        }
        const ScopedLocalRef<jobjectArray> intRows(
            env_, arrayOfArrays(env_, intArrayClass_.get(), rows.ints, ints));
        if (intRows.get() == nullptr) {
            return nullptr;
        }
        return env_->NewObject(samplesClass_.get(), samplesInit_, doubleRows.get(), intRows.get());
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
