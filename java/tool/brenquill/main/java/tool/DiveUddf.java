package brenquill.main.java.tool;

import brenquill.main.java.core.Device;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.Gas;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveMode;
import diveconnector.details.DiveSamples;
import diveconnector.details.GasMix;
import diveconnector.details.GasUsage;
import diveconnector.details.Location;
import diveconnector.details.Tank;
import java.io.IOException;
import java.io.Writer;
import java.math.BigDecimal;
import java.time.OffsetDateTime;
import java.time.format.DateTimeFormatter;
import java.time.temporal.ChronoUnit;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Optional;
import java.util.OptionalDouble;
import java.util.OptionalInt;
import java.util.OptionalLong;
import java.util.SortedSet;
import java.util.TreeSet;
import java.util.function.UnaryOperator;
import javax.xml.stream.XMLOutputFactory;
import javax.xml.stream.XMLStreamException;
import javax.xml.stream.XMLStreamWriter;

/**
 * A download as UDDF 3.2.3, the Universal Dive Data Format most dive logs import: the computer as
 * the owner's equipment, every gas mix, and each dive with its tanks and its profile as waypoints
 * carrying every value UDDF has an element for. UDDF counts in SI units: metres, seconds, kelvin,
 * pascal, cubic metres, and fractions of 1 for gases and CNS.
 *
 * <p>Tanks and oxygen sensors are numbered from 1 ({@code tank1} is the computer's tank 0), mixes
 * in the order they first appear; a mix used by several dives is defined once. A value UDDF has
 * no element for (salinity, density, the deco model, time to surface, most events) is left out;
 * so is a value the computer gave as NaN or infinity, and a value a waypoint can hold only once
 * keeps the last one recorded at its time.
 */
final class DiveUddf {
    static final String NAMESPACE = "http://www.streit.cc/uddf/3.2/";
    private static final String VERSION = "3.2.3";
    private static final String DIVE_COMPUTER = "divecomputer";
    private static final String REBREATHER = "rebreather";
    private static final BigDecimal ZERO_CELSIUS = new BigDecimal("273.15");
    private static final DateTimeFormatter GENERATED =
        DateTimeFormatter.ofPattern("uuuu-MM-dd'T'HH:mm:ssxxx");
    // xs:dateTime has no year 0, and offsets of whole minutes up to 14 hours.
    private static final int LATEST_OFFSET = 14 * 3600;
    private static final UnaryOperator<BigDecimal> AS_IS = UnaryOperator.identity();
    private static final UnaryOperator<BigDecimal> PASCAL = bar -> bar.movePointRight(5);
    private static final UnaryOperator<BigDecimal> KELVIN = celsius -> celsius.add(ZERO_CELSIUS);
    private static final UnaryOperator<BigDecimal> CUBIC_METRES = litres -> litres.movePointLeft(3);

    private final XMLStreamWriter xml;
    private int level;
    private boolean open;
    // Filled before writing: the ids every dive's links and references use.
    private final Map<MixKey, String> mixIds = new LinkedHashMap<>();
    private final SortedSet<Integer> tanks = new TreeSet<>();
    private final SortedSet<Integer> sensors = new TreeSet<>();
    private final Map<SiteKey, String> siteIds = new LinkedHashMap<>();

    /** A mix by what it is, so that dives sharing it share one definition. */
    private record MixKey(String name, double oxygen, double helium, double nitrogen) {}

    /** A site by where it is. */
    private record SiteKey(double latitude, double longitude, double altitude) {
        SiteKey(Location location) {
            this(location.latitude(), location.longitude(), location.altitude());
        }
    }

    private DiveUddf(XMLStreamWriter xml) {
        this.xml = xml;
    }

    /** The firmware is the version the computer gave as it identified itself, when it did. */
    static void write(Writer out, Device device, OptionalLong firmware, List<DownloadedDive> dives)
        throws IOException {
        try {
            XMLStreamWriter xml = XMLOutputFactory.newFactory().createXMLStreamWriter(out);
            new DiveUddf(xml).document(device, firmware, dives);
            xml.close();
        } catch (XMLStreamException e) {
            if (e.getCause() instanceof IOException cause) {
                throw cause;
            }
            throw new IOException(e.getMessage(), e);
        }
    }

    private void document(Device device, OptionalLong firmware, List<DownloadedDive> dives)
        throws XMLStreamException, IOException {
        for (DownloadedDive dive : dives) {
            dive.details().ifPresent(this::catalogue);
        }
        xml.writeStartDocument("UTF-8", "1.0");
        start("uddf");
        xml.writeDefaultNamespace(NAMESPACE);
        xml.writeAttribute("version", VERSION);
        generator();
        diver(device, firmware);
        if (!siteIds.isEmpty()) {
            start("divesite");
            for (Map.Entry<SiteKey, String> site : siteIds.entrySet()) {
                site(site.getValue(), site.getKey());
            }
            end();
        }
        if (!mixIds.isEmpty()) {
            start("gasdefinitions");
            for (Map.Entry<MixKey, String> mix : mixIds.entrySet()) {
                mix(mix.getValue(), mix.getKey());
            }
            end();
        }
        if (!dives.isEmpty()) {
            start("profiledata");
            // Whether dives were repetitive is not known: each is a group of its own.
            for (int i = 0; i < dives.size(); i++) {
                start("repetitiongroup");
                xml.writeAttribute("id", "group" + (i + 1));
                dive(i + 1, dives.get(i));
                end();
            }
            end();
        }
        end();
        xml.writeCharacters("\n");
        xml.writeEndDocument();
    }

    /** Gives every mix, tank, oxygen sensor and site of the dive its id. */
    private void catalogue(DiveDetails details) {
        for (GasMix mix : details.gasMixes()) {
            mixIds.putIfAbsent(mixKey(mix), "mix" + (mixIds.size() + 1));
        }
        for (Tank tank : details.tanks()) {
            tanks.add(tank.index());
        }
        DiveSamples samples = details.samples();
        for (int tank : samples.pressureTanks()) {
            tanks.add(tank);
        }
        for (int sensor : samples.ppo2Sensors()) {
            if (sensor != DiveSamples.ABSENT) {
                sensors.add(sensor);
            }
        }
        details.location().ifPresent(
            location -> siteIds.putIfAbsent(new SiteKey(location), "site" + (siteIds.size() + 1)));
    }

    private static MixKey mixKey(GasMix mix) {
        String name;
        try {
            name = Gas.blendGas((int) Math.round(mix.oxygen() * 100),
                                (int) Math.round(mix.helium() * 100))
                       .toString();
        } catch (IllegalArgumentException e) {
            name = "O2 " + mix.oxygen() + ", He " + mix.helium();
        }
        // UDDF has no element for whose gas a mix is; its name says it.
        String usage = switch (mix.usage().orElse(GasUsage.NONE)) {
            case OXYGEN -> " (rebreather oxygen)";
            case DILUENT -> " (diluent)";
            case SIDEMOUNT -> " (sidemount)";
            default -> "";
        };
        return new MixKey(name + usage, mix.oxygen(), mix.helium(), mix.nitrogen());
    }

    private void generator() throws XMLStreamException {
        start("generator");
        leaf("name", Main.NAME);
        leaf("type", "converter");
        Optional<String> version = Main.toolVersion();
        if (version.isPresent()) {
            leaf("version", version.get());
        }
        leaf("datetime",
             GENERATED.format(OffsetDateTime.now().truncatedTo(ChronoUnit.SECONDS)));
        end();
    }

    /** The owner, whose name the computer does not know, with the computer as equipment. */
    private void diver(Device device, OptionalLong firmware) throws XMLStreamException {
        start("diver");
        start("owner");
        xml.writeAttribute("id", "owner");
        start("personal");
        leaf("firstname", "");
        leaf("lastname", "");
        end();
        start("equipment");
        start(DIVE_COMPUTER);
        xml.writeAttribute("id", DIVE_COMPUTER);
        leaf("name", device.getVendor() + " " + device.getProduct());
        start("manufacturer");
        xml.writeAttribute("id", "manufacturer");
        leaf("name", device.getVendor());
        end();
        leaf("model", device.getProduct());
        if (!device.getSerial().isEmpty()) {
            leaf("serialnumber", device.getSerial());
        }
        if (firmware.isPresent()) {
            // UDDF has no element for it; in words, as libdivecomputer's dctool shows it.
            start("notes");
            leaf("para", String.format(Locale.ROOT, "Firmware %d (0x%08x)",
                                       firmware.getAsLong(), firmware.getAsLong()));
            end();
        }
        end();
        if (!sensors.isEmpty()) {
            // The ppO2 sensors' readings refer to them.
            start(REBREATHER);
            xml.writeAttribute("id", REBREATHER);
            leaf("name", "Rebreather");
            for (int sensor : sensors) {
                start("o2sensor");
                xml.writeAttribute("id", sensorId(sensor));
                leaf("name", "O2 sensor " + (sensor + 1));
                end();
            }
            end();
        }
        for (int tank : tanks) {
            start("tank");
            xml.writeAttribute("id", tankId(tank));
            leaf("name", "Tank " + (tank + 1));
            end();
        }
        end();
        end();
        end();
    }

    private static String tankId(int index) {
        return "tank" + (index + 1);
    }

    private static String sensorId(int index) {
        return "o2sensor" + (index + 1);
    }

    private void site(String id, SiteKey location) throws XMLStreamException {
        String where =
            value(location.latitude(), AS_IS) + ", " + value(location.longitude(), AS_IS);
        start("site");
        xml.writeAttribute("id", id);
        leaf("name", where);
        start("geography");
        leaf("location", where);
        optional("latitude", location.latitude(), AS_IS);
        optional("longitude", location.longitude(), AS_IS);
        // The library gives 0 for an altitude the computer does not know.
        if (location.altitude() != 0) {
            optional("altitude", location.altitude(), AS_IS);
        }
        end();
        end();
    }

    private void mix(String id, MixKey mix) throws XMLStreamException {
        start("mix");
        xml.writeAttribute("id", id);
        leaf("name", mix.name());
        optional("o2", mix.oxygen(), AS_IS);
        optional("n2", mix.nitrogen(), AS_IS);
        optional("he", mix.helium(), AS_IS);
        end();
    }

    private void dive(int number, DownloadedDive downloaded)
        throws XMLStreamException, IOException {
        Dive dive = downloaded.dive();
        Optional<DiveDetails> details = downloaded.details();
        start("dive");
        xml.writeAttribute("id", "dive" + number);

        start("informationbeforedive");
        Optional<Location> location = details.flatMap(DiveDetails::location);
        if (location.isPresent()) {
            link(siteIds.get(new SiteKey(location.get())));
        }
        leaf("datetime", dateTime(number, dive, details));
        if (details.isPresent()) {
            optional("airtemperature", details.get().surfaceTemperature(), KELVIN);
        }
        start("equipmentused");
        link(DIVE_COMPUTER);
        if (details.isPresent()) {
            if (hasSensorReadings(details.get().samples())) {
                link(REBREATHER);
            }
            for (int tank : tanksOf(details.get())) {
                link(tankId(tank));
            }
        }
        end();
        Optional<DiveMode> mode = details.flatMap(DiveDetails::diveMode);
        if (mode.isPresent()) {
            switch (mode.get()) {
                case OPEN_CIRCUIT -> leaf("apparatus", "open-scuba");
                case CLOSED_CIRCUIT, SEMI_CLOSED -> leaf("apparatus", "rebreather");
                default -> {}
            }
        }
        if (details.isPresent()) {
            optional("surfacepressure", details.get().atmosphericPressure(), PASCAL);
        }
        end();

        Map<Integer, String> mixes = new HashMap<>();
        if (details.isPresent()) {
            for (GasMix mix : details.get().gasMixes()) {
                mixes.put(mix.index(), mixIds.get(mixKey(mix)));
            }
            for (Tank tank : details.get().tanks()) {
                tankData(tank, mixes);
            }
            waypoints(details.get().samples(), mixes, mode);
        } else {
            waypoints(dive);
        }

        start("informationafterdive");
        if (details.isPresent()) {
            optional("lowesttemperature", details.get().minimumTemperature(), KELVIN);
        }
        leaf("greatestdepth", required(dive.getMaxDepth()));
        if (details.isPresent()) {
            optional("averagedepth", details.get().averageDepth(), AS_IS);
        }
        leaf("diveduration", required(dive.getDiveTime()));
        end();
        end();
    }

    /**
     * The dive's start as xs:dateTime, with the computer's offset from UTC when it gives one. UDDF
     * requires it, so a dive without a date it can hold (a computer without a clock gives
     * 0000-00-00) cannot be written.
     */
    private static String dateTime(int number, Dive dive, Optional<DiveDetails> details)
        throws IOException {
        OptionalInt zone =
            details.isPresent() ? details.get().timezoneOffset() : OptionalInt.empty();
        if (zone.isPresent()
            && (zone.getAsInt() % 60 != 0 || Math.abs(zone.getAsInt()) > LATEST_OFFSET)) {
            zone = OptionalInt.empty();
        }
        Optional<String> start = DiveJson.isoDateTime(dive.getDateTime(), zone);
        if (start.isEmpty() || start.get().startsWith("0000-") || start.get().startsWith("-")) {
            throw new IOException("dive " + number + " has no date and time UDDF can hold ("
                                  + dive.getDateTime() + ")");
        }
        return start.get();
    }

    private static boolean hasSensorReadings(DiveSamples samples) {
        for (int sensor : samples.ppo2Sensors()) {
            if (sensor != DiveSamples.ABSENT) {
                return true;
            }
        }
        return false;
    }

    private static SortedSet<Integer> tanksOf(DiveDetails details) {
        SortedSet<Integer> used = new TreeSet<>();
        for (Tank tank : details.tanks()) {
            used.add(tank.index());
        }
        for (int tank : details.samples().pressureTanks()) {
            used.add(tank);
        }
        return used;
    }

    /**
     * UDDF requires a tank's begin pressure, which the library gives as 0 when the computer does
     * not know it: such a tank has no tank data, only its pressure samples. UDDF has no element
     * for the working pressure.
     */
    private void tankData(Tank tank, Map<Integer, String> mixes) throws XMLStreamException {
        if (!(tank.beginPressure() > 0)) {
            return;
        }
        start("tankdata");
        if (tank.gasMix().isPresent() && mixes.containsKey(tank.gasMix().getAsInt())) {
            link(mixes.get(tank.gasMix().getAsInt()));
        }
        link(tankId(tank.index()));
        if (tank.volumeType() != Tank.VolumeType.NONE && tank.volume() > 0) {
            optional("tankvolume", tank.volume(), CUBIC_METRES);
        }
        leaf("tankpressurebegin", value(tank.beginPressure(), PASCAL));
        if (tank.endPressure() > 0) {
            optional("tankpressureend", tank.endPressure(), PASCAL);
        }
        end();
    }

    /** One waypoint per time sample, its elements in the order the schema fixes. */
    private void waypoints(DiveSamples samples, Map<Integer, String> mixes,
                           Optional<DiveMode> mode) throws XMLStreamException {
        double[] times = samples.times();
        if (times.length == 0) {
            return;
        }
        Cursor events = new Cursor(samples.eventSamples());
        int[] eventTypes = samples.eventTypes();
        int[] eventFlags = samples.eventFlags();
        Cursor cns = new Cursor(samples.cnsSamples());
        double[] cnsValues = samples.cns();
        Cursor deco = new Cursor(samples.decoSamples());
        int[] decoTypes = samples.decoTypes();
        int[] decoTimes = samples.decoTimes();
        double[] decoDepths = samples.decoDepths();
        Cursor depths = new Cursor(samples.depthSamples());
        double[] depthValues = samples.depths();
        Cursor bearings = new Cursor(samples.bearingSamples());
        int[] bearingValues = samples.bearings();
        Cursor heartRates = new Cursor(samples.heartRateSamples());
        int[] heartRateValues = samples.heartRates();
        Cursor bottomTimes = new Cursor(samples.remainingBottomTimeSamples());
        int[] bottomTimeValues = samples.remainingBottomTimes();
        Cursor setpoints = new Cursor(samples.setpointSamples());
        double[] setpointValues = samples.setpoints();
        Cursor switches = new Cursor(samples.gasSwitchSamples());
        int[] switchMixes = samples.gasSwitches();
        Cursor pressures = new Cursor(samples.pressureSamples());
        int[] pressureTanks = samples.pressureTanks();
        double[] pressureValues = samples.pressures();
        Cursor temperatures = new Cursor(samples.temperatureSamples());
        double[] temperatureValues = samples.temperatures();
        Cursor ppo2 = new Cursor(samples.ppo2Samples());
        int[] ppo2Sensors = samples.ppo2Sensors();
        double[] ppo2Values = samples.ppo2();

        start("samples");
        for (int sample = 0; sample < times.length; sample++) {
            start("waypoint");
            Span span = events.at(sample);
            boolean bookmark = false;
            for (int i = span.from(); i < span.to(); i++) {
                // An alarm is a moment: the end of one that had its begin is no other alarm.
                if ((eventFlags[i] & (DiveSamples.EVENT_BEGIN | DiveSamples.EVENT_END))
                    == DiveSamples.EVENT_END) {
                    continue;
                }
                String event = DiveJson.eventName(eventTypes[i]).orElse("");
                bookmark |= event.equals("bookmark");
                Optional<String> alarm = alarm(event);
                if (alarm.isPresent()) {
                    leaf("alarm", alarm.get());
                }
            }
            int last = cns.at(sample).last();
            if (last >= 0) {
                optional("cns", cnsValues[last], AS_IS);
            }
            span = deco.at(sample);
            int noDecompression = -1;
            for (int i = span.from(); i < span.to(); i++) {
                if (decoTypes[i] == DiveSamples.DECO_NDL) {
                    noDecompression = i;
                } else if (Double.isFinite(decoDepths[i])) {
                    // UDDF knows mandatory and safety stops; a deep stop is advice, not a ceiling.
                    empty("decostop");
                    xml.writeAttribute("kind", decoTypes[i] == DiveSamples.DECO_STOP ? "mandatory"
                                                                                     : "safety");
                    xml.writeAttribute("decodepth", value(decoDepths[i], AS_IS));
                    xml.writeAttribute("duration", unsigned(decoTimes[i]));
                }
            }
            last = depths.at(sample).last();
            if (last >= 0) {
                optional("depth", depthValues[last], AS_IS);
            }
            optional("divetime", times[sample], AS_IS);
            last = bearings.at(sample).last();
            if (last >= 0) {
                leaf("heading", unsigned(bearingValues[last]));
            }
            last = heartRates.at(sample).last();
            if (last >= 0) {
                leaf("heartrate", unsigned(heartRateValues[last]));
            }
            last = bottomTimes.at(sample).last();
            if (last >= 0) {
                leaf("remainingbottomtime",
                     Long.toString(Integer.toUnsignedLong(bottomTimeValues[last]) * 60));
            }
            if (bookmark) {
                leaf("setmarker", "bookmark");
            }
            last = setpoints.at(sample).last();
            if (last >= 0 && Double.isFinite(setpointValues[last])) {
                // Whether the diver or the computer chose the setpoint is not recorded; the
                // computer is the one that held it.
                start("setpo2");
                xml.writeAttribute("setby", "computer");
                text(value(setpointValues[last], PASCAL));
                end();
            }
            span = switches.at(sample);
            String mix = null;
            for (int i = span.from(); i < span.to(); i++) {
                mix = mixes.getOrDefault(switchMixes[i], mix);
            }
            if (mix != null) {
                empty("switchmix");
                xml.writeAttribute("ref", mix);
            }
            span = pressures.at(sample);
            for (int i = span.from(); i < span.to(); i++) {
                if (Double.isFinite(pressureValues[i])) {
                    start("tankpressure");
                    xml.writeAttribute("ref", tankId(pressureTanks[i]));
                    text(value(pressureValues[i], PASCAL));
                    end();
                }
            }
            last = temperatures.at(sample).last();
            if (last >= 0) {
                optional("temperature", temperatureValues[last], KELVIN);
            }
            if (sample == 0 && mode.isPresent()) {
                divemode(mode.get());
            }
            span = ppo2.at(sample);
            for (int i = span.from(); i < span.to(); i++) {
                if (Double.isFinite(ppo2Values[i])) {
                    start("measuredpo2");
                    if (ppo2Sensors[i] != DiveSamples.ABSENT) {
                        xml.writeAttribute("ref", sensorId(ppo2Sensors[i]));
                    }
                    text(value(ppo2Values[i], PASCAL));
                    end();
                }
            }
            if (noDecompression >= 0) {
                leaf("nodecotime", unsigned(decoTimes[noDecompression]));
            }
            end();
        }
        end();
    }

    /** A dive whose details the library did not hand over: the profile the dive itself holds. */
    private void waypoints(Dive dive) throws XMLStreamException {
        Float[] times = dive.getTimeProfile();
        if (times.length == 0) {
            return;
        }
        Float[] depths = dive.getDepthProfile();
        Float[] pressures = dive.getPressureProfile();
        Float[] temperatures = dive.getTemperatureProfile();
        start("samples");
        for (int i = 0; i < times.length; i++) {
            start("waypoint");
            optional("depth", depths[i], AS_IS);
            optional("divetime", times[i], AS_IS);
            optional("tankpressure", pressures[i], PASCAL);
            optional("temperature", temperatures[i], KELVIN);
            end();
        }
        end();
    }

    private void divemode(DiveMode mode) throws XMLStreamException {
        String type = switch (mode) {
            case FREEDIVE -> "apnea";
            case OPEN_CIRCUIT -> "opencircuit";
            case CLOSED_CIRCUIT -> "closedcircuit";
            case SEMI_CLOSED -> "semiclosedcircuit";
            default -> null;  // gauge mode has no UDDF name
        };
        if (type != null) {
            empty("divemode");
            xml.writeAttribute("type", type);
        }
    }

    /** The UDDF alarm of a libdivecomputer event, by its name, for the events UDDF names. */
    private static Optional<String> alarm(String event) {
        return Optional.ofNullable(switch (event) {
            case "decostop", "ceiling", "violation" -> "deco";
            case "rbt", "ascent", "surface" -> event;
            case "workload" -> "breath";
            case "transmitter" -> "link";
            case "rgbm" -> "microbubbles";
            default -> null;
        });
    }

    /** The values of one time sample in a sample kind's arrays: entries from to before to. */
    private record Span(int from, int to) {
        /** The sample's last value, or -1 when it has none. */
        int last() {
            return to > from ? to - 1 : -1;
        }
    }

    /**
     * Walks one sample kind's values, which come in the order of their time samples, a time sample
     * at a time.
     */
    private static final class Cursor {
        private final int[] samples;
        private int next;

        Cursor(int[] samples) {
            this.samples = samples;
        }

        /** The values of {@code sample}, which no earlier call may have passed. */
        Span at(int sample) {
            int from = next;
            while (next < samples.length && samples[next] <= sample) {
                next++;
            }
            return new Span(from, next);
        }
    }

    private static String unsigned(int value) {
        return Long.toString(Integer.toUnsignedLong(value));
    }

    /**
     * A finite value in UDDF's unit, as a plain decimal converted exactly from the shortest text
     * that reads back as the same double.
     */
    private static String value(double value, UnaryOperator<BigDecimal> unit) {
        return unit.apply(new BigDecimal(Double.toString(value))).stripTrailingZeros()
            .toPlainString();
    }

    /** A value the schema requires, so also NaN and the infinities, as xs:float writes them. */
    private static String required(float value) {
        if (Float.isNaN(value)) {
            return "NaN";
        }
        if (Float.isInfinite(value)) {
            return value > 0 ? "INF" : "-INF";
        }
        return new BigDecimal(Float.toString(value)).stripTrailingZeros().toPlainString();
    }

    // The elements, each on a line of its own, indented two spaces a level.

    private void indent() throws XMLStreamException {
        xml.writeCharacters("\n" + "  ".repeat(level));
    }

    private void start(String name) throws XMLStreamException {
        indent();
        xml.writeStartElement(name);
        level++;
        open = true;
    }

    private void end() throws XMLStreamException {
        level--;
        if (!open) {
            indent();
        }
        xml.writeEndElement();
        open = false;
    }

    private void text(String text) throws XMLStreamException {
        xml.writeCharacters(text);
    }

    private void leaf(String name, String text) throws XMLStreamException {
        start(name);
        xml.writeCharacters(xmlText(text));
        end();
    }

    /** An element without content, whose attributes follow. */
    private void empty(String name) throws XMLStreamException {
        indent();
        xml.writeEmptyElement(name);
        open = false;
    }

    private void link(String ref) throws XMLStreamException {
        empty("link");
        xml.writeAttribute("ref", ref);
    }

    /** The element only for a finite value: NaN and the infinities count as not given. */
    private void optional(String name, double value, UnaryOperator<BigDecimal> unit)
        throws XMLStreamException {
        if (Double.isFinite(value)) {
            leaf(name, value(value, unit));
        }
    }

    private void optional(String name, OptionalDouble value, UnaryOperator<BigDecimal> unit)
        throws XMLStreamException {
        if (value.isPresent()) {
            optional(name, value.getAsDouble(), unit);
        }
    }

    /** A float of the dive's own profile, null where the sample has none. */
    private void optional(String name, Float value, UnaryOperator<BigDecimal> unit)
        throws XMLStreamException {
        if (value != null && Float.isFinite(value)) {
            leaf(name, unit.apply(new BigDecimal(value.toString())).stripTrailingZeros()
                           .toPlainString());
        }
    }

    /** XML 1.0 holds no control characters but tab and line breaks, nor lone surrogates. */
    private static String xmlText(String text) {
        StringBuilder kept = new StringBuilder(text.length());
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (Character.isHighSurrogate(c) && i + 1 < text.length()
                && Character.isLowSurrogate(text.charAt(i + 1))) {
                kept.append(c).append(text.charAt(++i));
            } else if (Character.isSurrogate(c) || (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                       || c == 0xFFFE || c == 0xFFFF) {
                kept.append('?');
            } else {
                kept.append(c);
            }
        }
        return kept.toString();
    }
}
