package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.Gas;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The application classes the native library fills: what a set of them does with its input. */
class ApplicationClassesTest {
    private static final Device PERDIX = new Device("Shearwater", "Perdix", "123456");

    @Test
    void devicesOrderByVendorThenProductThenSerial() {
        List<Device> sorted = List.of(
            new Device("Mares", "Puck", "Puck"), new Device("Shearwater", "Perdix", "1"),
            new Device("Shearwater", "Perdix", "2"), new Device("Shearwater", "Petrel", "0"));
        TreeSet<Device> set = new TreeSet<>(List.of(sorted.get(3), sorted.get(1), sorted.get(0),
                                                    sorted.get(2), sorted.get(1)));

        assertEquals(sorted, List.copyOf(set));
        assertEquals(new Device("Mares", "Puck", "Puck"), sorted.get(0));
        assertEquals(new Device("Mares", "Puck", "Puck").hashCode(), sorted.get(0).hashCode());
    }

    @ParameterizedTest
    @CsvSource({"0, 0, Unknown", "21, 0, Air", "32, 0, EAN32", "100, 0, Oxygen", "18, 45, Tx 18/45",
                "51, 50, Tx 51/50", "0, 100, Tx 0/100"})
    void gasesWithinTheirLimitsAreNamed(int oxygen, int helium, String name) {
        Gas gas = Gas.blendGas(oxygen, helium);

        assertEquals(name, gas.toString());
        assertEquals(oxygen, gas.getOxygen());
        assertEquals(helium, gas.getHelium());
        assertTrue(gas.getNitrogen() >= 0);
    }

    @ParameterizedTest
    @CsvSource({"-1, 0", "0, -1", "101, 0", "0, 101", "60, 42"})
    void gasesOutsideTheirLimitsAreRefused(int oxygen, int helium) {
        assertThrows(IllegalArgumentException.class, () -> Gas.blendGas(oxygen, helium));
    }

    private static Dive dive(String dateTime, float diveTime, float maxDepth) {
        return new Dive(PERDIX, dateTime, diveTime, maxDepth, null, null, null,
                        Gas.blendGas(21, 0), null);
    }

    @Test
    void aDiveSetKeepsOneDivePerDeviceStartAndDuration() {
        List<Dive> dives = List.of(dive("2024-05-01 09:30:00", 2400, 18.5f),
                                   dive("2024-05-01 09:30:00", 2400, 18.5f),
                                   dive("2024-05-01 09:30:00", 1800, 12f),
                                   dive("0000-00-00 00:00:00", 600, 5f),
                                   dive("0000-00-00 00:00:00", 900, 6f));

        Set<Dive> tree = new TreeSet<>(dives);
        Set<Dive> hash = new HashSet<>(dives);

        assertEquals(4, tree.size());
        assertEquals(tree, hash);
        assertEquals("0000-00-00 00:00:00", ((TreeSet<Dive>) tree).first().getDateTime());
    }

    @Test
    void profileIsKeptAsGivenAndRaisesTheMaximumDepth() {
        Dive dive = dive("2024-05-01 09:30:00", 2400, 18.5f);
        Set<Dive> dives = new HashSet<>(Set.of(dive));
        Float[] depth = {0f, 19.25f, null};
        Integer[] events = {null, 4, null};

        dive.setDiveProfileAndUpdate(new Float[] {0f, 10f, 20f}, depth, new Float[3],
                                     new Float[] {21f, null, 20.5f}, events);
        depth[1] = 99f;

        assertEquals(3, dive.getSampleCount());
        assertArrayEquals(new Float[] {0f, 19.25f, null}, dive.getDepthProfile());
        assertArrayEquals(events, dive.getEventProfile());
        assertEquals(19.25f, dive.getMaxDepth());
        assertTrue(dives.contains(dive), "setting the profile keeps the dive's place in a set");

        dive.setDiveProfileAndUpdate(new Float[0], new Float[0], new Float[0], new Float[0],
                                     new Integer[0]);
        assertEquals(0, dive.getSampleCount());
        assertEquals(19.25f, dive.getMaxDepth(), "a shallower profile lowers nothing");
    }

    @Test
    void profileSeriesOfDifferentLengthsAreRefused() {
        Dive dive = dive("2024-05-01 09:30:00", 2400, 18.5f);

        assertThrows(IllegalArgumentException.class,
                     () -> dive.setDiveProfileAndUpdate(new Float[2], new Float[2], new Float[2],
                                                        new Float[1], new Integer[2]));
        assertEquals(0, dive.getSampleCount(), "a refused profile leaves the old one");
    }
}
