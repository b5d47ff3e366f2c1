package brenquill.main.java.core;

import java.util.Comparator;
import java.util.Objects;

/**
 * One dive of a dive computer's log.
 *
 * <p>A dive is identified by its device, its start ("yyyy-MM-dd HH:mm:ss") and its duration: the
 * start alone is not enough, since computers without a clock report every dive at the same
 * time. Dives order chronologically. The profile is not part of the identity, so setting it
 * keeps a dive's place in a set.
 */
public final class Dive implements Comparable<Dive> {
    private static final Comparator<Dive> ORDER = Comparator.comparing(Dive::getDateTime)
                                                          .thenComparing(Dive::getDevice)
                                                          .thenComparing(Dive::getDiveTime);

    private final Device device;
    private final String dateTime;
    private final float diveTime;
    private float maxDepth;
    private final Site site;
    private final String notes;
    private final Person buddy;
    private final Gas gas;
    private final Cylinder cylinder;

    private Float[] timeProfile = new Float[0];
    private Float[] depthProfile = new Float[0];
    private Float[] pressureProfile = new Float[0];
    private Float[] temperatureProfile = new Float[0];
    private Integer[] eventProfile = new Integer[0];

    /**
     * Dive time in seconds, maximum depth in metres; site, notes, buddy and cylinder may be null.
     */
    public Dive(Device device, String dateTime, float diveTime, float maxDepth, Site site,
                String notes, Person buddy, Gas gas, Cylinder cylinder) {
        this.device = Objects.requireNonNull(device, "device");
        this.dateTime = Objects.requireNonNull(dateTime, "dateTime");
        this.diveTime = diveTime;
        this.maxDepth = maxDepth;
        this.site = site;
        this.notes = notes;
        this.buddy = buddy;
        this.gas = Objects.requireNonNull(gas, "gas");
        this.cylinder = cylinder;
    }

    /**
     * Replaces the sample profile. The five series run in parallel, one entry per sample; a null
     * entry is a value the sample did not carry. The maximum depth grows to the deepest sample.
     */
    public void setDiveProfileAndUpdate(Float[] time, Float[] depth, Float[] pressure,
                                        Float[] temperature, Integer[] events) {
        int samples = time.length;
        if (depth.length != samples || pressure.length != samples
            || temperature.length != samples || events.length != samples) {
            throw new IllegalArgumentException("profile series of different lengths");
        }
        timeProfile = time.clone();
        depthProfile = depth.clone();
        pressureProfile = pressure.clone();
        temperatureProfile = temperature.clone();
        eventProfile = events.clone();
        for (Float sample : depthProfile) {
            if (sample != null && sample > maxDepth) {
                maxDepth = sample;
            }
        }
    }

    public Device getDevice() {
        return device;
    }

    public String getDateTime() {
        return dateTime;
    }

    public float getDiveTime() {
        return diveTime;
    }

    public float getMaxDepth() {
        return maxDepth;
    }

    public Site getSite() {
        return site;
    }

    public String getNotes() {
        return notes;
    }

    public Person getBuddy() {
        return buddy;
    }

    public Gas getGas() {
        return gas;
    }

    public Cylinder getCylinder() {
        return cylinder;
    }

    public int getSampleCount() {
        return timeProfile.length;
    }

    public Float[] getTimeProfile() {
        return timeProfile.clone();
    }

    public Float[] getDepthProfile() {
        return depthProfile.clone();
    }

    public Float[] getPressureProfile() {
        return pressureProfile.clone();
    }

    public Float[] getTemperatureProfile() {
        return temperatureProfile.clone();
    }

    public Integer[] getEventProfile() {
        return eventProfile.clone();
    }

    @Override
    public int compareTo(Dive other) {
        return ORDER.compare(this, other);
    }

    @Override
    public boolean equals(Object other) {
        if (this == other) {
            return true;
        }
        if (!(other instanceof Dive)) {
            return false;
        }
        Dive dive = (Dive) other;
        return device.equals(dive.device) && dateTime.equals(dive.dateTime)
            && Float.compare(diveTime, dive.diveTime) == 0;
    }

    @Override
    public int hashCode() {
        return Objects.hash(device, dateTime, diveTime);
    }

    @Override
    public String toString() {
        return dateTime + " " + device.getVendor() + " " + device.getProduct() + ", " + diveTime
            + " s, " + maxDepth + " m, " + gas;
    }
}
