package brenquill.main.java.core;

/** A Dive whose profile setter takes primitive arrays, not the boxed ones the library binds. */
public final class Dive {
    private final String dateTime;

    public Dive(Device device, String dateTime, float diveTime, float maxDepth, Site site,
                String notes, Person buddy, Gas gas, Cylinder cylinder) {
        this.dateTime = dateTime;
    }

    public void setDiveProfileAndUpdate(float[] time, float[] depth, float[] pressure,
                                        float[] temperature, int[] events) {}

    public String getDateTime() {
        return dateTime;
    }
}
