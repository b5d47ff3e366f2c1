package brenquill.main.java.core;

/** A Dive that refuses the third profile it is given. */
public final class Dive {
    private static final int FAILING_PROFILE = 3;
    private static int profiles;

    private final String dateTime;

    public Dive(Device device, String dateTime, float diveTime, float maxDepth, Site site,
                String notes, Person buddy, Gas gas, Cylinder cylinder) {
        this.dateTime = dateTime;
    }

    public void setDiveProfileAndUpdate(Float[] time, Float[] depth, Float[] pressure,
                                        Float[] temperature, Integer[] events) {
        if (++profiles == FAILING_PROFILE) {
            throw new IllegalArgumentException("refusing a profile of " + time.length + " samples");
        }
    }

    public String getDateTime() {
        return dateTime;
    }
}
