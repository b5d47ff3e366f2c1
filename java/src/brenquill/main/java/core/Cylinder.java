package brenquill.main.java.core;

/** A gas cylinder: water volume in litres and working pressure in bar. */
public final class Cylinder {
    private final float volume;
    private final float workingPressure;

    public Cylinder(float volume, float workingPressure) {
        if (!(volume > 0) || !(workingPressure > 0)) {
            throw new IllegalArgumentException(
                "cylinder of " + volume + " l at " + workingPressure + " bar");
        }
        this.volume = volume;
        this.workingPressure = workingPressure;
    }

    public float getVolume() {
        return volume;
    }

    public float getWorkingPressure() {
        return workingPressure;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof Cylinder)) {
            return false;
        }
        Cylinder cylinder = (Cylinder) other;
        return Float.compare(volume, cylinder.volume) == 0
            && Float.compare(workingPressure, cylinder.workingPressure) == 0;
    }

    @Override
    public int hashCode() {
        return 31 * Float.hashCode(volume) + Float.hashCode(workingPressure);
    }

    @Override
    public String toString() {
        return volume + " l, " + workingPressure + " bar";
    }
}
