package brenquill.main.java.core;

/** A Dive whose third construction fails. */
public final class Dive {
    private static final int FAILING_DIVE = 3;
    private static int dives;

    private final String dateTime;

    public Dive(Device device, String dateTime, float diveTime, float maxDepth, Site site,
                String notes, Person buddy, Gas gas, Cylinder cylinder) {
        if (++dives == FAILING_DIVE) {
            throw new IllegalStateException("refusing the dive of " + dateTime);
        }
        this.dateTime = dateTime;
    }

    public void setDiveProfileAndUpdate(Float[] time, Float[] depth, Float[] pressure,
                                        Float[] temperature, Integer[] events) {}

    public String getDateTime() {
        return dateTime;
    }
}
