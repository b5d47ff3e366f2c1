package diveconnector.sweep;

import brenquill.main.java.core.Dive;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.List;

/**
 * Everything a downloaded Dive carries, as a value that compares field by field, profile
 * included (Dive.equals compares only its identity).
 */
public record DiveSnapshot(String device, String dateTime, float diveTime, float maxDepth,
                           int oxygen, int helium, List<Float> time, List<Float> depth,
                           List<Float> pressure, List<Float> temperature, List<Integer> events) {
    public static DiveSnapshot of(Dive dive) {
        return new DiveSnapshot(dive.getDevice().toString(), dive.getDateTime(),
                                dive.getDiveTime(), dive.getMaxDepth(), dive.getGas().getOxygen(),
                                dive.getGas().getHelium(), Arrays.asList(dive.getTimeProfile()),
                                Arrays.asList(dive.getDepthProfile()),
                                Arrays.asList(dive.getPressureProfile()),
                                Arrays.asList(dive.getTemperatureProfile()),
                                Arrays.asList(dive.getEventProfile()));
    }

    /** The snapshots of the dives in their iteration order. */
    public static List<DiveSnapshot> ofAll(Collection<Dive> dives) {
        List<DiveSnapshot> snapshots = new ArrayList<>();
        for (Dive dive : dives) {
            snapshots.add(of(dive));
        }
        return snapshots;
    }

    @Override
    public String toString() {
        return dateTime + " " + device + " " + diveTime + " s " + maxDepth + " m O2 " + oxygen
            + "% He " + helium + "% " + time.size() + " samples";
    }
}
