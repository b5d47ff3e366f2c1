package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.Gas;
import brenquill.main.java.core.exceptions.NativeException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** Successful downloads from simulated dive computers: what reaches Java, value by value. */
class DiveDownloadTest {
    private static final int BOOKMARK = 8;
    private static final int VIOLATION = 7;

    @BeforeEach
    void resetDcsim() {
        DcSim.reset();
    }

    private static void assertGas(int oxygen, int helium, Dive dive) {
        Gas gas = dive.getGas();
        assertNotNull(gas, dive::toString);
        assertEquals(oxygen, gas.getOxygen(), () -> "oxygen of " + dive);
        assertEquals(helium, gas.getHelium(), () -> "helium of " + dive);
    }

    private static void assertProfile(Dive dive, Float[] time, Float[] depth, Float[] pressure,
                                      Float[] temperature, Integer[] events) {
        assertArrayEquals(time, dive.getTimeProfile(), () -> "time of " + dive);
        assertArrayEquals(depth, dive.getDepthProfile(), () -> "depth of " + dive);
        assertArrayEquals(pressure, dive.getPressureProfile(), () -> "pressure of " + dive);
        assertArrayEquals(temperature, dive.getTemperatureProfile(),
                          () -> "temperature of " + dive);
        assertArrayEquals(events, dive.getEventProfile(), () -> "events of " + dive);
    }

    @Test
    void headersProfilesAndGasesArriveNewestFirst() throws NativeException {
        Downloads.attach("""
            devinfo 0x12 0x0203 123456
            dive
            datetime 2024-06-01 10:00:00 +02:00
            divetime 40:00
            maxdepth 12.4
            mix 20.9 0
            time 0; depth 0.0; temperature 24.5; pressure 0 200
            time 10; depth 3.2; pressure 0 199.1
            event bookmark
            time 20; temperature 24.0
            dive
            datetime 2024-06-02 09:05:07 Z
            divetime 3:25
            maxdepth 30.25
            mix 32.5 0
            mix 50 0
            time 0; depth 1.5
            time 60; depth 30.25; event violation
            dive
            datetime 2024-06-03 23:59:59
            divetime 1:00:00
            maxdepth 5
            time 0
            """);
        String vendor = new String(Downloads.VENDOR);
        String product = new String(Downloads.PRODUCT);
        RecordingSet<Dive> set = RecordingSet.accepting();

        Device device = Downloads.download(Downloads.PORT, vendor, product, set);

        assertSame(vendor, device.getVendor(), "the caller's vendor string itself");
        assertSame(product, device.getProduct(), "the caller's product string itself");
        assertEquals("123456", device.getSerial());
        List<Dive> dives = set.added();
        assertEquals(3, dives.size(), dives::toString);
        for (Dive dive : dives) {
            assertSame(device, dive.getDevice(), "every dive belongs to the returned device");
        }

        Dive newest = dives.get(0);
        assertEquals("2024-06-03 23:59:59", newest.getDateTime());
        assertEquals(3600f, newest.getDiveTime());
        assertEquals(5f, newest.getMaxDepth());
        assertGas(0, 0, newest);
        assertProfile(newest, new Float[] {0f}, new Float[] {null}, new Float[] {null},
                      new Float[] {null}, new Integer[] {null});

        Dive middle = dives.get(1);
        assertEquals("2024-06-02 09:05:07", middle.getDateTime(), "the fields as sent");
        assertEquals(205f, middle.getDiveTime());
        assertEquals(30.25f, middle.getMaxDepth());
        assertGas(33, 0, middle);
        assertProfile(middle, new Float[] {0f, 60f}, new Float[] {1.5f, 30.25f},
                      new Float[] {null, null}, new Float[] {null, null},
                      new Integer[] {null, VIOLATION});

        Dive oldest = dives.get(2);
        assertEquals("2024-06-01 10:00:00", oldest.getDateTime());
        assertEquals(2400f, oldest.getDiveTime());
        assertEquals(12.4f, oldest.getMaxDepth());
        assertGas(21, 0, oldest);
        assertProfile(oldest, new Float[] {0f, 10f, 20f}, new Float[] {0f, 3.2f, null},
                      new Float[] {200f, 199.1f, null}, new Float[] {24.5f, null, 24.0f},
                      new Integer[] {null, BOOKMARK, null});
    }

    // Values before the first time sample belong to it; of each kind only a time sample's first
    // value is kept, whichever tank or event it is; times are kept as sent, even going backwards.
    @Test
    void eachTimeSampleKeepsTheFirstValueOfEachKind() throws NativeException {
        Downloads.attach("""
            dive
            datetime 2024-06-04 08:00:00
            depth 1.0; temperature 20; event 0xFFFFFFFF; pressure 1 150
            time 0; depth 2.0; temperature 21; event bookmark; pressure 0 200
            time 5; event 0x7FFFFFFF; event surface; pressure 1 100; pressure 0 180
            time 3; depth 4.5; depth 9
            """);

        Dive dive = Downloads.dives().get(0);

        assertProfile(dive, new Float[] {0f, 5f, 3f}, new Float[] {1f, null, 4.5f},
                      new Float[] {150f, 100f, null}, new Float[] {20f, null, null},
                      new Integer[] {-1, Integer.MAX_VALUE, null});
        assertEquals(4.5f, dive.getMaxDepth(), "no maxdepth field: the deepest kept sample");
    }

    @Test
    void sampleTimesAreSecondsAtTheLibrarysResolution() throws NativeException {
        long[] milliseconds = {0, 1500, 12345, 4294967295L};
        Downloads.attach("dive\ntime 0ms\ntime 1500ms\ntime 12345ms\ntime 4294967295ms\n");

        Float[] times = Downloads.dives().get(0).getTimeProfile();

        Float[] expected = new Float[milliseconds.length];
        for (int i = 0; i < milliseconds.length; i++) {
            // libdivecomputer 0.8 counts whole seconds, later releases milliseconds.
            expected[i] = TestEnvironment.olderApi() ? (float) (milliseconds[i] / 1000)
                                                     : (float) (milliseconds[i] / 1000.0);
        }
        assertArrayEquals(expected, times);
    }

    @Test
    void computerWithoutDivesGivesItsDeviceAndNoDive() throws NativeException {
        Downloads.attach("devinfo 1 2 77\n");
        RecordingSet<Dive> set = RecordingSet.accepting();

        Device device = Downloads.download(set);

        assertEquals(new Device(Downloads.VENDOR, Downloads.PRODUCT, "77"), device);
        assertEquals(0, set.calls());
    }

    @Test
    void diveWithoutTimeSamplesHasAnEmptyProfile() throws NativeException {
        Downloads.attach("""
            dive
            datetime 2024-06-05 07:00:00
            maxdepth 7
            depth 30; temperature 10; pressure 0 200; event bookmark
            dive
            datetime 2024-06-05 09:00:00
            """);

        List<Dive> dives = Downloads.dives();

        assertEquals(2, dives.size());
        for (Dive dive : dives) {
            assertEquals(0, dive.getSampleCount(), dive::toString);
            assertProfile(dive, new Float[0], new Float[0], new Float[0], new Float[0],
                          new Integer[0]);
        }
        assertEquals(7f, dives.get(1).getMaxDepth(), "values without a time sample are dropped");
        assertEquals(0f, dives.get(0).getMaxDepth());
        assertEquals(0f, dives.get(0).getDiveTime());
    }

    // A header the computer does not report (missing, or answered UNSUPPORTED) is zero.
    @Test
    void unreportedHeadersAreZero() throws NativeException {
        Downloads.attach("""
            dive
            divetime 10:00
            dive
            datetime 2024-06-06 10:00:00
            divetime 10:00
            maxdepth 8
            fault datetime UNSUPPORTED
            fault field divetime UNSUPPORTED
            fault field maxdepth UNSUPPORTED
            fault field gasmix-count UNSUPPORTED
            mix 32 0
            """);

        List<Dive> dives = Downloads.dives();

        for (Dive dive : dives) {
            assertEquals("0000-00-00 00:00:00", dive.getDateTime());
            assertEquals(0f, dive.getMaxDepth());
            assertGas(0, 0, dive);
        }
        assertEquals(0f, dives.get(0).getDiveTime());
        assertEquals(600f, dives.get(1).getDiveTime());
    }

    /** A dive of raw data holding nothing but a date record with these field bytes. */
    private static String rawDateDive(String year, String monthDayHourMinuteSecond) {
        // Magic, version 1, header of one 15-byte record: tag 1, length 13, year (i32), five u8
        // fields and a timezone of INT32_MIN (none).
        return "dive\nraw 4443534d010000000f000000010d" + year + monthDayHourMinuteSecond
            + "00000080\n";
    }

    @Test
    void dateFieldsAreZeroPaddedAndWideOnesWrittenInFull() throws NativeException {
        Downloads.attach("dive\ndatetime 0987-01-02 03:04:05\n"
                         + rawDateDive("39300000", "0607080900")
                         + rawDateDive("00000080", "ffffffffff"));

        List<Dive> dives = Downloads.dives();

        assertEquals("-2147483648-255-255 255:255:255", dives.get(0).getDateTime());
        assertEquals("12345-06-07 08:09:00", dives.get(1).getDateTime());
        assertEquals("0987-01-02 03:04:05", dives.get(2).getDateTime());
    }

    @Test
    void diveStartsOnTheMixOfItsFirstGasMixSample() throws NativeException {
        String mixes = "mix 100 0 oxygen\nmix 50 0\nmix 18 45\n";
        Downloads.attach("dive\ndatetime 2024-06-07 10:00:00\n" + mixes
                         + "time 0; gasmix 2\ntime 10; gasmix 1\ntime 20; gasmix 0\n"
                         + "dive\ndatetime 2024-06-07 12:00:00\n" + mixes
                         + "time 0\ntime 10; gasmix 1\ntime 20; gasmix 2\n"
                         + "dive\ndatetime 2024-06-07 14:00:00\n" + mixes
                         + "time 0; gasmix 3\ntime 10; gasmix 2\n"
                         + "dive\ndatetime 2024-06-07 16:00:00\n" + mixes + "time 0\n");

        List<Dive> dives = Downloads.dives();

        assertGas(100, 0, dives.get(0));
        assertGas(100, 0, dives.get(1));
        assertGas(50, 0, dives.get(2));
        assertGas(18, 45, dives.get(3));
        assertEquals("Tx 18/45", dives.get(3).getGas().toString());
    }

    private static String rawMixDive(String oxygen, String helium) {
        // Magic, version 1, header of one 19-byte record: GASMIX (tag 0x14, length 17) with the
        // two fractions as little-endian doubles and usage 0.
        return "dive\nraw 4443534d0100000013000000" + "1411" + oxygen + helium + "00\n";
    }

    private static final String NAN = "000000000000f87f";
    private static final String ZERO = "0000000000000000";
    private static final String POINT_32 = "7b14ae47e17ad43f";

    @Test
    void mixFractionThatIsNoNumberCountsAsNoMixOfThatGas() throws NativeException {
        Downloads.attach(rawMixDive(NAN, ZERO) + rawMixDive(POINT_32, NAN));

        List<Dive> dives = Downloads.dives();

        assertGas(32, 0, dives.get(0));
        assertGas(0, 0, dives.get(1));
    }

    @Test
    void mixFractionBeyondAnyPercentageIsLeftToGasToRefuse() {
        Downloads.attach(rawMixDive("000000a2941a6d42", ZERO));  // oxygen 1e12

        NativeException error = assertThrows(NativeException.class, Downloads::dives);

        assertEquals("Could not create gas.", error.getMessage());
    }

    @Test
    void secondTankNeverShiftsTheFirstTanksPressures() throws NativeException {
        Downloads.attach("""
            dive
            datetime 2024-06-08 10:00:00
            profile interval=10 tank=0:200:100 tank=1:150:50 0:00@0 1:00@10 2:00@0
            """);

        Dive dive = Downloads.dives().get(0);

        Float[] pressure = dive.getPressureProfile();
        assertEquals(13, dive.getSampleCount());
        assertEquals(13, pressure.length);
        assertEquals(200f, pressure[0]);
        assertEquals(100f, pressure[12]);
        for (int i = 1; i < pressure.length; i++) {
            assertTrue(pressure[i] < pressure[i - 1], () -> List.of(pressure).toString());
        }
    }

    @Test
    void builtInComputerGivesItsTripNewestFirst() throws NativeException {
        RecordingSet<Dive> set = RecordingSet.accepting();

        Device device =
            Downloads.download("dcsim:builtin", Downloads.VENDOR, Downloads.PRODUCT, set);

        assertEquals(new Device("Dcsim", "Reef Explorer", "20240401"), device);
        List<Dive> dives = set.added();
        assertEquals(20, dives.size());
        assertEquals("2024-05-15 13:50:00", dives.get(0).getDateTime());
        assertEquals("2024-05-04 10:12:00", dives.get(19).getDateTime());
        for (int i = 1; i < dives.size(); i++) {
            assertTrue(dives.get(i).getDateTime().compareTo(dives.get(i - 1).getDateTime()) < 0,
                       "newest first");
        }
        for (Dive dive : dives) {
            int samples = dive.getSampleCount();
            assertTrue(samples > 200, dive::toString);
            assertEquals(dive.getDiveTime(), dive.getTimeProfile()[samples - 1],
                         "the last sample is at the end of the dive");
            assertTrue(List.of(dive.getTimeProfile()).stream().allMatch(t -> t != null));
            assertTrue(List.of(dive.getDepthProfile()).stream().allMatch(d -> d != null));
        }
        Dive trimix = dives.stream()
                          .filter(dive -> dive.getDateTime().equals("2024-05-10 07:30:00"))
                          .findFirst()
                          .orElseThrow();
        assertGas(18, 45, trimix);
        assertEquals(60f, trimix.getMaxDepth());
        Dive sidemount = dives.stream()
                             .filter(dive -> dive.getDateTime().equals("2024-05-08 09:15:00"))
                             .findFirst()
                             .orElseThrow();
        Float[] pressure = sidemount.getPressureProfile();
        assertEquals(200f, pressure[0]);
        assertEquals(90f, pressure[pressure.length - 1], "the first tank's pressures only");
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', quoteCharacter = '\'', value = {
        "events progress clock | ''",
        "devinfo 1 2 0         | 0",
        "devinfo 1 2 123456    | 123456",
        "devinfo 1 2 0xFFFFFFFF | 4294967295",
    })
    void serialIsTheReportedNumberInDecimalOrEmpty(String computer, String serial)
        throws NativeException {
        Downloads.attach(computer + "\ndive\ndatetime 2024-06-09 10:00:00\ntime 0\n");

        RecordingSet<Dive> set = RecordingSet.accepting();
        Device device = Downloads.download(set);

        assertEquals(serial, device.getSerial());
        assertSame(device, set.added().get(0).getDevice());
    }

    @Test
    void descriptorIsMatchedByItsExactTextsEvenBeyondAscii() throws NativeException {
        DcSim.descriptorsAdd("Dräger", "Tauchcomputer ✓", 0x10002, 7, 0x01);
        Downloads.attach("dive\ndatetime 2024-06-10 10:00:00\ntime 0\n");

        Device device = Downloads.download(Downloads.PORT, "Dräger", "Tauchcomputer ✓",
                                           RecordingSet.accepting());

        assertEquals("Dräger", device.getVendor());
        assertEquals("Tauchcomputer ✓", device.getProduct());
    }

    // Dives equal by the application's rules make Set.add answer false; the download goes on.
    @Test
    void diveTheSetAlreadyHoldsIsNoFailure() throws NativeException {
        Downloads.attach("""
            dive
            divetime 5:00
            time 0
            dive
            divetime 5:00
            time 0
            """);
        Set<Dive> dives = new HashSet<>();

        Device device = Downloads.download(dives);

        assertNotNull(device);
        assertEquals(1, dives.size());
    }

    // The system takes file names in UTF-8. JNI's modified UTF-8 spells a character beyond the
    // Basic Multilingual Plane as two surrogates, which name another file.
    @Test
    void portNameBeyondTheBasicMultilingualPlaneOpensThatFile(@TempDir Path directory)
        throws Exception {
        Path scenario = Files.writeString(directory.resolve("dives \uD83E\uDD3F \u00e9.txt"),
                                          "dive\ndatetime 2024-06-11 09:00:00\ntime 0\n");
        RecordingSet<Dive> dives = RecordingSet.accepting();

        Downloads.download(scenario.toString(), Downloads.VENDOR, Downloads.PRODUCT, dives);

        assertEquals(1, dives.added().size());
        assertEquals("2024-06-11 09:00:00", dives.added().get(0).getDateTime());
    }
}
