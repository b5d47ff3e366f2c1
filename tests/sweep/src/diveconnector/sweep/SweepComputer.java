package diveconnector.sweep;

import diveconnector.testing.DcSim;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * The small dive computer of the fault sweep, written once and turned into both the dcsim
 * scenario and the dives the library must hand over: five dives with a few samples, zero to
 * three gas mixes, one starting on its second mix. It answers on every transport, so one
 * computer serves every way the library opens a stream.
 */
final class SweepComputer {
    static final String VENDOR = "Divetech";
    static final String PRODUCT = "Marlin";
    static final String SERIAL_PORT = "sweep:serial";
    static final String DEVICE = VENDOR + " " + PRODUCT + " (424242)";
    /** What a dive without a datetime shows. */
    static final String NO_DATETIME = "0000-00-00 00:00:00";

    /**
     * The device names of the sweep, one per way of opening the stream: a serial port, the first
     * USB HID and USB device found, a Bluetooth address. (IrDA exists only in Windows builds of
     * libdivecomputer; its ways are tested by the native tests of the Windows build.)
     */
    static final List<String> PORTS =
        List.of(SERIAL_PORT, "usbhid:", "usb:", "00:11:22:33:44:55");

    /**
     * The descriptor table, in libdivecomputer's order. The computer's model comes fourth, after
     * another model of its vendor, so the descriptor walk reads four vendors and two products
     * before it matches, and never reaches the last row.
     */
    static final List<Descriptor> DESCRIPTORS = List.of(
        new Descriptor("Sweepco", "Alpha", 0x10002, 0x0A, 0x01),
        new Descriptor(VENDOR, "Nautilus", 0x50003, 0x12, 0x01),
        new Descriptor("Sweepco", "Beta", 0x30002, 0x10, 0x08),
        new Descriptor(VENDOR, PRODUCT, 0x40002, 0x4342, 0x1F),
        new Descriptor("Oceanix", "Reef", 0xA0001, 0x03, 0x11));

    record Descriptor(String vendor, String product, int family, int model, int transports) {}

    record Mix(int oxygen, int helium) {}

    /** One time sample; a null value is not in the sample. */
    record Sample(int seconds, double depth, Double temperature, Double pressure, Integer event,
                  Integer gasmix) {}

    record LogbookDive(String datetime, String zone, int divetime, double maxdepth, List<Mix> mixes,
                List<Sample> samples) {}

    /** The header fields the sweep makes unreported, with the scenario's name for each. */
    enum Field {
        DATETIME("datetime"),
        DIVETIME("divetime"),
        MAXDEPTH("maxdepth"),
        GASMIX_COUNT("gasmix-count"),
        GASMIX("gasmix");

        final String scenarioName;

        Field(String scenarioName) {
            this.scenarioName = scenarioName;
        }
    }

    /** Oldest first, as in the scenario; the computer sends them newest first. */
    static final List<LogbookDive> DIVES = List.of(
        new LogbookDive("2024-03-01 09:15:00", "+01:00", 2530, 18.5, List.of(new Mix(21, 0)),
                 List.of(new Sample(0, 0.0, 22.0, 200.0, null, null),
                         new Sample(10, 6.0, null, 195.5, null, null),
                         new Sample(20, 18.0, 19.5, null, 8, null),
                         new Sample(30, 5.0, null, null, null, null))),
        new LogbookDive("2024-03-01 14:40:00", "none", 3120, 24.25,
                        List.of(new Mix(32, 0), new Mix(50, 0)),
                 List.of(new Sample(0, 0.0, 23.0, null, null, 0),
                         new Sample(20, 24.0, null, 180.0, null, null),
                         new Sample(40, 12.0, null, 150.0, 25, 1),
                         new Sample(60, 3.0, 21.5, null, null, null))),
        new LogbookDive("2024-03-02 08:05:30", "Z", 1800, 9.75, List.of(),
                 List.of(new Sample(0, 0.0, null, null, null, null),
                         new Sample(30, 9.5, 24.5, null, null, null),
                         new Sample(60, 1.0, null, null, 9, null))),
        new LogbookDive("2024-03-02 11:20:00", "+01:00", 4210, 45.5,
                 List.of(new Mix(21, 35), new Mix(50, 0), new Mix(100, 0)),
                 List.of(new Sample(0, 0.0, 18.0, 210.0, null, 1),
                         new Sample(60, 45.0, 12.5, 170.0, null, null),
                         new Sample(120, 21.0, null, 120.0, 11, 2),
                         new Sample(180, 6.0, 14.0, 90.0, 10, null))),
        new LogbookDive("2024-03-03 07:00:00", "none", 600, 4.0, List.of(new Mix(40, 0)),
                 List.of(new Sample(0, 0.0, null, null, null, null),
                         new Sample(20, 3.75, 25.0, 198.0, null, null))));

    private SweepComputer() {}

    /** The dive the download delivers at this position (1 is the first, the newest dive). */
    static LogbookDive delivered(int position) {
        return DIVES.get(DIVES.size() - position);
    }

    /** Replaces dcsim's descriptor table by the sweep's. */
    static void installDescriptors() {
        DcSim.descriptorsClear();
        for (Descriptor descriptor : DESCRIPTORS) {
            DcSim.descriptorsAdd(descriptor.vendor(), descriptor.product(), descriptor.family(),
                                 descriptor.model(), descriptor.transports());
        }
    }

    /** A fault the scenario carries: a line of the computer, or of one dive. */
    record Fault(String computerLine, int divePosition, String diveLine) {
        static Fault ofComputer(String line) {
            return new Fault(line, 0, null);
        }

        /** A line of the dive delivered at this position. */
        static Fault ofDive(int position, String line) {
            return new Fault(null, position, line);
        }
    }

    /** The scenario, with the fault if one is given. */
    static String scenario(Fault fault) {
        StringBuilder text = new StringBuilder();
        text.append("devinfo 0x21 0x0105 424242\n")
            .append("serial ").append(SERIAL_PORT).append('\n')
            .append("usbhid 0x1493 0x0030\n")
            .append("usb 0x2e6c 0x3201\n")
            .append("bluetooth 00:11:22:33:44:55 \"Sweep Bluetooth\"\n")
            .append("transfer 2 0\n");
        if (fault != null && fault.computerLine() != null) {
            text.append(fault.computerLine()).append('\n');
        }
        for (int index = 0; index < DIVES.size(); index++) {
            LogbookDive dive = DIVES.get(index);
            text.append("\ndive\n")
                .append("datetime ").append(dive.datetime()).append(' ').append(dive.zone())
                .append('\n')
                .append("divetime ").append(dive.divetime()).append('\n')
                .append("maxdepth ").append(number(dive.maxdepth())).append('\n');
            for (Mix mix : dive.mixes()) {
                text.append("mix ").append(mix.oxygen()).append(' ').append(mix.helium())
                    .append('\n');
            }
            for (Sample sample : dive.samples()) {
                text.append(sampleLine(sample)).append('\n');
            }
            if (fault != null && fault.diveLine() != null
                && DIVES.size() - index == fault.divePosition()) {
                text.append(fault.diveLine()).append('\n');
            }
        }
        return text.toString();
    }

    private static String sampleLine(Sample sample) {
        StringBuilder line = new StringBuilder();
        line.append("time ").append(sample.seconds()).append("; depth ")
            .append(number(sample.depth()));
        if (sample.temperature() != null) {
            line.append("; temperature ").append(number(sample.temperature()));
        }
        if (sample.pressure() != null) {
            line.append("; pressure 0 ").append(number(sample.pressure()));
        }
        if (sample.event() != null) {
            line.append("; event ").append(sample.event());
        }
        if (sample.gasmix() != null) {
            line.append("; gasmix ").append(sample.gasmix());
        }
        return line.toString();
    }

    private static String number(double value) {
        return String.format(Locale.ROOT, "%.2f", value);
    }

    /** Every dive as the library must hand it over, newest first. */
    static List<DiveSnapshot> expectedDives() {
        return expectedDives(0, null);
    }

    /**
     * The same, with one field unreported in the dive delivered at this position: the field keeps
     * its default (a depth-less header takes its maximum from the profile, a dive without its
     * mixes has no gas).
     */
    static List<DiveSnapshot> expectedDives(int position, Field unreported) {
        List<DiveSnapshot> dives = new ArrayList<>();
        for (int at = 1; at <= DIVES.size(); at++) {
            dives.add(expected(delivered(at), at == position ? unreported : null));
        }
        return dives;
    }

    private static DiveSnapshot expected(LogbookDive dive, Field unreported) {
        List<Float> time = new ArrayList<>();
        List<Float> depth = new ArrayList<>();
        List<Float> pressure = new ArrayList<>();
        List<Float> temperature = new ArrayList<>();
        List<Integer> events = new ArrayList<>();
        Integer firstGasmix = null;
        float maxDepth = unreported == Field.MAXDEPTH ? 0.0f : (float) dive.maxdepth();
        for (Sample sample : dive.samples()) {
            time.add((float) sample.seconds());
            depth.add((float) sample.depth());
            pressure.add(sample.pressure() == null ? null : sample.pressure().floatValue());
            temperature.add(sample.temperature() == null ? null
                                                         : sample.temperature().floatValue());
            events.add(sample.event());
            if (firstGasmix == null) {
                firstGasmix = sample.gasmix();
            }
            maxDepth = Math.max(maxDepth, (float) sample.depth());
        }
        Mix gas = new Mix(0, 0);
        boolean mixesReported = unreported != Field.GASMIX_COUNT && unreported != Field.GASMIX;
        if (mixesReported && !dive.mixes().isEmpty()) {
            gas = firstGasmix != null && firstGasmix < dive.mixes().size()
                      ? dive.mixes().get(firstGasmix)
                      : dive.mixes().get(0);
        }
        return new DiveSnapshot(
            DEVICE, unreported == Field.DATETIME ? NO_DATETIME : dive.datetime(),
            unreported == Field.DIVETIME ? 0.0f : (float) dive.divetime(), maxDepth, gas.oxygen(),
            gas.helium(), time, depth, pressure, temperature, events);
    }
}
