package diveconnector.details;

/** Where the computer's GPS put the dive. Immutable. */
public final class Location {
    private final double latitude;
    private final double longitude;
    private final double altitude;

    Location(double latitude, double longitude, double altitude) {
        this.latitude = latitude;
        this.longitude = longitude;
        this.altitude = altitude;
    }

    /** Decimal degrees, north positive. */
    public double latitude() {
        return latitude;
    }

    /** Decimal degrees, east positive. */
    public double longitude() {
        return longitude;
    }

    /** Metres; 0 when the computer gives none. */
    public double altitude() {
        return altitude;
    }
}
