package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.Dive;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveSamples;
import diveconnector.details.GasMix;
import diveconnector.details.GasUsage;
import diveconnector.details.Tank;
import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.Iterator;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.IntStream;
import javax.xml.XMLConstants;
import javax.xml.namespace.NamespaceContext;
import javax.xml.parsers.DocumentBuilderFactory;
import javax.xml.transform.stream.StreamSource;
import javax.xml.validation.Schema;
import javax.xml.validation.SchemaFactory;
import javax.xml.xpath.XPath;
import javax.xml.xpath.XPathConstants;
import javax.xml.xpath.XPathFactory;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.w3c.dom.Document;
import org.w3c.dom.Element;
import org.w3c.dom.Node;
import org.w3c.dom.NodeList;

/**
 * The tool's --uddf: what the computer recorded, in UDDF's elements and SI units, each document
 * valid by the official UDDF 3.2.3 schema when ../shared holds it.
 */
class CliUddfTest {
    private static final String NAMESPACE = "http://www.streit.cc/uddf/3.2/";
    private static final String DIVE = "/u:uddf/u:profiledata/u:repetitiongroup/u:dive";
    private static Schema schema;

    @TempDir
    Path temporary;

    /** Validates the document when the schema is there, and says so when it is not. */
    private static void assertValid(Path document) throws Exception {
        String file = System.getProperty("uddf.schema", "");
        if (file.isEmpty() || !Files.isRegularFile(Path.of(file))) {
            System.out.println("UDDF schema validation skipped: no schema at '" + file + "'");
            return;
        }
        if (schema == null) {
            schema = SchemaFactory.newInstance(XMLConstants.W3C_XML_SCHEMA_NS_URI)
                         .newSchema(new File(file));
        }
        schema.newValidator().validate(new StreamSource(document.toFile()));
    }

    private static Document parse(Path document) throws Exception {
        DocumentBuilderFactory factory = DocumentBuilderFactory.newInstance();
        factory.setNamespaceAware(true);
        return factory.newDocumentBuilder().parse(document.toFile());
    }

    private static XPath xpath() {
        XPath xpath = XPathFactory.newInstance().newXPath();
        xpath.setNamespaceContext(new NamespaceContext() {
            @Override
            public String getNamespaceURI(String prefix) {
                return prefix.equals("u") ? NAMESPACE : XMLConstants.NULL_NS_URI;
            }

            @Override
            public String getPrefix(String uri) {
                return null;
            }

            @Override
            public Iterator<String> getPrefixes(String uri) {
                return List.<String>of().iterator();
            }
        });
        return xpath;
    }

    /** The names of the element's child elements, in order. */
    private static List<String> children(Document document, String path) throws Exception {
        Node node = (Node) xpath().evaluate(path, document, XPathConstants.NODE);
        assertTrue(node != null, path);
        List<String> names = new ArrayList<>();
        NodeList nodes = node.getChildNodes();
        for (int i = 0; i < nodes.getLength(); i++) {
            if (nodes.item(i).getNodeType() == Node.ELEMENT_NODE) {
                names.add(nodes.item(i).getLocalName());
            }
        }
        return names;
    }

    private static String value(Document document, String path) throws Exception {
        return xpath().evaluate(path, document);
    }

    private static List<String> values(Document document, String path) throws Exception {
        NodeList nodes = (NodeList) xpath().evaluate(path, document, XPathConstants.NODESET);
        List<String> values = new ArrayList<>();
        for (int i = 0; i < nodes.getLength(); i++) {
            values.add(nodes.item(i).getNodeValue());
        }
        return values;
    }

    private static int count(Document document, String path) throws Exception {
        return ((Number) xpath().evaluate("count(" + path + ")", document, XPathConstants.NUMBER))
            .intValue();
    }

    @Test
    void closedCircuitTrimixDiveComesOutWholeAndValid() throws Exception {
        Path scenario = Files.writeString(temporary.resolve("ccr.txt"),
                                          "devinfo 1 2 4711\n" + DiveDetailsTest.CLOSED_CIRCUIT);
        Path file = temporary.resolve("dives.uddf");

        ChildProcess child = Tool.run("download", "--port", scenario.toString(), "--uddf",
                                      file.toString())
                                 .assertClean(0);

        assertTrue(child.stdout().endsWith("Wrote " + file + ".\n"), child::toString);
        assertValid(file);
        Document uddf = parse(file);
        boolean older = TestEnvironment.olderApi();
        // libdivecomputer 0.8 has no location, no gas usage and no ppO2 sensor numbers.
        String oxygenName = older ? "Oxygen" : "Oxygen (rebreather oxygen)";
        String[][] values = {
            {"/u:uddf/@version", "3.2.3"},
            {"/u:uddf/u:generator/u:name", "diveconnector"},
            {"//u:owner/u:equipment/u:divecomputer/u:name", "Dcsim Reef Explorer"},
            {"//u:divecomputer/u:manufacturer/u:name", "Dcsim"},
            {"//u:divecomputer/u:model", "Reef Explorer"},
            {"//u:divecomputer/u:serialnumber", "4711"},
            {"//u:divecomputer/u:notes/u:para", "Firmware 2 (0x00000002)"},
            {"//u:equipment/u:tank[@id='tank1']/u:name", "Tank 1"},
            {"//u:equipment/u:tank[@id='tank2']/u:name", "Tank 2"},
            {"count(//u:equipment/u:rebreather/u:o2sensor[@id='o2sensor1'])", older ? "0" : "1"},
            {"//u:divesite/u:site[@id='site1']/u:geography/u:latitude", older ? "" : "43.5"},
            {"//u:site/u:geography/u:longitude", older ? "" : "-7.25"},
            {"//u:site/u:geography/u:altitude", older ? "" : "12"},
            {"count(//u:gasdefinitions/u:mix)", "3"},
            {"//u:mix[@id='mix1']/u:name", older ? "Tx 18/45" : "Tx 18/45 (diluent)"},
            {"//u:mix[@id='mix1']/u:o2", "0.18"},
            {"//u:mix[@id='mix1']/u:he", "0.45"},
            {"round(//u:mix[@id='mix1']/u:n2 * 1000000)", "370000"},
            {"//u:mix[@id='mix2']/u:name", oxygenName},
            {"//u:mix[@id='mix2']/u:o2", "1"},
            {"//u:mix[@id='mix2']/u:he", "0"},
            {"//u:mix[@id='mix3']/u:name", "EAN50"},
            {"//u:mix[@id='mix3']/u:o2", "0.5"},
            {DIVE + "/u:informationbeforedive/u:link/@ref", older ? "" : "site1"},
            {DIVE + "/u:informationbeforedive/u:datetime", "2024-06-01T10:00:00-03:30"},
            {DIVE + "/u:informationbeforedive/u:airtemperature", "299.15"},
            {DIVE + "/u:informationbeforedive/u:apparatus", "rebreather"},
            {DIVE + "/u:informationbeforedive/u:surfacepressure", "101300"},
            {DIVE + "/u:tankdata[1]/u:link[1]/@ref", "mix1"},
            {DIVE + "/u:tankdata[1]/u:link[2]/@ref", "tank1"},
            {DIVE + "/u:tankdata[1]/u:tankvolume", "0.003"},
            {DIVE + "/u:tankdata[1]/u:tankpressurebegin", "20000000"},
            {DIVE + "/u:tankdata[1]/u:tankpressureend", "12000000"},
            {DIVE + "/u:tankdata[2]/u:link/@ref", "tank2"},
            // libdivecomputer gives an imperial tank's size as water capacity too.
            {DIVE + "/u:tankdata[2]/u:tankvolume", "0.08"},
            {DIVE + "/u:tankdata[2]/u:tankpressurebegin", "19000000"},
            {DIVE + "/u:tankdata[2]/u:tankpressureend", "6000000"},
            {DIVE + "/u:informationafterdive/u:greatestdepth", "61.5"},
            {DIVE + "/u:informationafterdive/u:averagedepth", "32.25"},
            {DIVE + "/u:informationafterdive/u:lowesttemperature", "284.65"},
            {DIVE + "/u:informationafterdive/u:diveduration", "3000"},
            {"count(//u:waypoint)", "3"},
            {"//u:waypoint[1]/u:cns", "0.05"},
            {"//u:waypoint[1]/u:depth", "0"},
            {"//u:waypoint[1]/u:divetime", "0"},
            {"//u:waypoint[1]/u:heading", "270"},
            {"//u:waypoint[1]/u:heartrate", "90"},
            {"//u:waypoint[1]/u:setpo2", "70000"},
            {"//u:waypoint[1]/u:setpo2/@setby", "computer"},
            {"//u:waypoint[1]/u:switchmix/@ref", "mix1"},
            {"//u:waypoint[1]/u:tankpressure[1]", "20000000"},
            {"//u:waypoint[1]/u:tankpressure[1]/@ref", "tank1"},
            {"//u:waypoint[1]/u:tankpressure[2]", "19000000"},
            {"//u:waypoint[1]/u:tankpressure[2]/@ref", "tank2"},
            {"//u:waypoint[1]/u:temperature", "298.15"},
            {"//u:waypoint[1]/u:divemode/@type", "closedcircuit"},
            {"//u:waypoint[1]/u:measuredpo2[1]", "69000"},
            {"//u:waypoint[1]/u:measuredpo2[1]/@ref", older ? "" : "o2sensor1"},
            {"//u:waypoint[1]/u:measuredpo2[2]", "70000"},
            {"count(//u:waypoint[1]/u:measuredpo2[2]/@ref)", "0"},
            {"//u:waypoint[2]/u:alarm", "ascent"},
            {"//u:waypoint[2]/u:depth", "6.5"},
            {"//u:waypoint[2]/u:divetime", "10"},
            {"//u:waypoint[2]/u:remainingbottomtime", "2700"},
            {"//u:waypoint[2]/u:setmarker", "bookmark"},
            {"//u:waypoint[2]/u:nodecotime", "99"},
            {"//u:waypoint[3]/u:decostop/@kind", "mandatory"},
            {"//u:waypoint[3]/u:decostop/@decodepth", "9"},
            {"//u:waypoint[3]/u:decostop/@duration", "120"},
            {"//u:waypoint[3]/u:depth", "60"},
            {"//u:waypoint[3]/u:divetime", "20"},
            {"//u:waypoint[3]/u:switchmix/@ref", "mix3"},
        };
        for (String[] row : values) {
            assertEquals(row[1], value(uddf, row[0]), row[0]);
        }
        // Nothing more than the rows above: every element of the waypoints in the schema's order.
        List<String> sensorless = List.of("cns", "depth", "divetime", "heading", "heartrate",
                                          "setpo2", "switchmix", "tankpressure", "tankpressure",
                                          "temperature", "divemode", "measuredpo2", "measuredpo2");
        assertEquals(sensorless, children(uddf, "//u:waypoint[1]"));
        assertEquals(List.of("alarm", "depth", "divetime", "remainingbottomtime", "setmarker",
                             "nodecotime"),
                     children(uddf, "//u:waypoint[2]"));
        assertEquals(List.of("decostop", "depth", "divetime", "switchmix"),
                     children(uddf, "//u:waypoint[3]"));
        assertEquals(older ? List.of("divecomputer", "tank1", "tank2")
                           : List.of("divecomputer", "rebreather", "tank1", "tank2"),
                     values(uddf, DIVE + "/u:informationbeforedive/u:equipmentused/u:link/@ref"));
    }

    /** One value of a waypoint: the waypoint's index, the element's reference, its number. */
    private record Written(int waypoint, String ref, double value) {}

    /** Every numeric value of the waypoints, by element name, in document order. */
    private static Map<String, List<Written>> waypointValues(Document uddf) throws Exception {
        Map<String, List<Written>> values = new HashMap<>();
        NodeList waypoints = (NodeList) xpath().evaluate("//u:waypoint", uddf,
                                                         XPathConstants.NODESET);
        for (int w = 0; w < waypoints.getLength(); w++) {
            NodeList children = waypoints.item(w).getChildNodes();
            for (int i = 0; i < children.getLength(); i++) {
                if (children.item(i) instanceof Element element) {
                    String text = element.getLocalName().equals("decostop")
                        ? element.getAttribute("decodepth") : element.getTextContent();
                    if (text.matches("-?[0-9.]+")) {
                        values.computeIfAbsent(element.getLocalName(), name -> new ArrayList<>())
                            .add(new Written(w, element.getAttribute("ref"),
                                             Double.parseDouble(text)));
                    }
                }
            }
        }
        return values;
    }

    /** One sample kind of the details as UDDF must hold it, its values scaled to UDDF's unit. */
    private static List<Written> expected(int[] samples, double[] values, double scale,
                                          double offset, int[] refs, String refPrefix) {
        List<Written> expected = new ArrayList<>();
        for (int i = 0; i < samples.length; i++) {
            String ref = refs == null || refs[i] == DiveSamples.ABSENT ? ""
                                                                       : refPrefix + (refs[i] + 1);
            expected.add(new Written(samples[i], ref, values[i] * scale + offset));
        }
        return expected;
    }

    private static double[] doubles(int[] values) {
        return Arrays.stream(values).asDoubleStream().toArray();
    }

    private static void assertWritten(List<Written> expected, List<Written> written, String kind) {
        assertEquals(expected.size(), written.size(), kind);
        for (int i = 0; i < expected.size(); i++) {
            Written want = expected.get(i);
            Written got = written.get(i);
            assertEquals(List.of(want.waypoint(), want.ref()), List.of(got.waypoint(), got.ref()),
                         kind + " " + i);
            assertEquals(want.value(), got.value(), 1e-9 * Math.max(1, Math.abs(want.value())),
                         kind + " " + i);
        }
    }

    // The closed-circuit trimix dive of the real-library tests (4 mixes, 3 tanks, 3 cells, bailout
    // switches, ceilings), each value against the details the library gives an application.
    @Test
    void closedCircuitScenarioComesOutValueByValue() throws Exception {
        String scenario = CliTest.closedCircuitScenario().toString();
        CliTest.Detailed here = CliTest.downloadWithDetails(scenario);
        Path file = temporary.resolve("ccr.uddf");

        Tool.run("download", "--port", scenario, "--uddf", file.toString()).assertClean(0);

        assertValid(file);
        Document uddf = parse(file);
        assertEquals(1, here.dives().size());
        Dive dive = here.dives().get(0);
        DiveDetails details = here.details().get(0);
        List<GasMix> mixes = details.gasMixes();
        assertEquals(4, mixes.size());
        assertEquals(String.valueOf(mixes.size()), value(uddf, "count(//u:mix)"));
        Map<Integer, Integer> mixNumbers = new HashMap<>();
        for (int m = 0; m < mixes.size(); m++) {
            GasMix mix = mixes.get(m);
            mixNumbers.put(mix.index(), m + 1);
            String path = "//u:mix[@id='mix" + (m + 1) + "']/u:";
            for (Object[] fraction : new Object[][] {
                     {"o2", mix.oxygen()}, {"he", mix.helium()}, {"n2", mix.nitrogen()}}) {
                assertEquals((double) fraction[1],
                             Double.parseDouble(value(uddf, path + fraction[0])), 1e-12, path);
            }
            assertEquals(mix.usage().map(usage -> usage == GasUsage.DILUENT).orElse(false),
                         value(uddf, path + "name").endsWith(" (diluent)"), path);
        }
        List<Tank> tanks = details.tanks();
        assertEquals(3, tanks.size());
        for (int t = 0; t < tanks.size(); t++) {
            Tank tank = tanks.get(t);
            String path = DIVE + "/u:tankdata[" + (t + 1) + "]/";
            List<String> links = new ArrayList<>();
            tank.gasMix().ifPresent(mix -> links.add("mix" + mixNumbers.get(mix)));
            links.add("tank" + (tank.index() + 1));
            assertEquals(links, values(uddf, path + "u:link/@ref"), path);
            assertEquals(tank.beginPressure() * 1e5,
                         Double.parseDouble(value(uddf, path + "u:tankpressurebegin")), 1e-3);
            assertEquals(tank.endPressure() * 1e5,
                         Double.parseDouble(value(uddf, path + "u:tankpressureend")), 1e-3);
            assertEquals("", value(uddf, path + "u:tankvolume"), "a tank of no given size");
        }
        String before = DIVE + "/u:informationbeforedive/u:";
        String after = DIVE + "/u:informationafterdive/u:";
        assertEquals("2024-06-04T08:00:00", value(uddf, before + "datetime"));
        assertEquals("rebreather", value(uddf, before + "apparatus"));
        assertEquals(details.atmosphericPressure().orElseThrow() * 1e5,
                     Double.parseDouble(value(uddf, before + "surfacepressure")), 1e-6);
        assertEquals(dive.getMaxDepth(), Float.parseFloat(value(uddf, after + "greatestdepth")));
        assertEquals(dive.getDiveTime(), Float.parseFloat(value(uddf, after + "diveduration")));
        assertEquals(details.averageDepth().orElseThrow(),
                     Double.parseDouble(value(uddf, after + "averagedepth")));
        assertEquals(details.location().isPresent() ? "35.89216" : "",
                     value(uddf, "//u:site/u:geography/u:latitude"));

        DiveSamples samples = details.samples();
        Map<String, List<Written>> written = waypointValues(uddf);
        double[] times = samples.times();
        assertEquals(times.length, count(uddf, "//u:waypoint"));
        int[] everySample = IntStream.range(0, times.length).toArray();
        int[] decoTypes = samples.decoTypes();
        int[] ndl = IntStream.range(0, decoTypes.length)
                        .filter(i -> decoTypes[i] == DiveSamples.DECO_NDL).toArray();
        int[] stops = IntStream.range(0, decoTypes.length)
                          .filter(i -> decoTypes[i] != DiveSamples.DECO_NDL).toArray();
        int[] decoSamples = samples.decoSamples();
        double[] decoTimes = doubles(samples.decoTimes());
        double[] decoDepths = samples.decoDepths();
        int[] switches = Arrays.stream(samples.gasSwitches()).map(mixNumbers::get).toArray();
        Object[][] kinds = {
            {"divetime", expected(everySample, times, 1, 0, null, "")},
            {"depth", expected(samples.depthSamples(), samples.depths(), 1, 0, null, "")},
            {"temperature", expected(samples.temperatureSamples(), samples.temperatures(), 1,
                                     273.15, null, "")},
            {"tankpressure", expected(samples.pressureSamples(), samples.pressures(), 1e5, 0,
                                      samples.pressureTanks(), "tank")},
            {"measuredpo2", expected(samples.ppo2Samples(), samples.ppo2(), 1e5, 0,
                                     samples.ppo2Sensors(), "o2sensor")},
            {"setpo2", expected(samples.setpointSamples(), samples.setpoints(), 1e5, 0, null,
                                "")},
            {"cns", expected(samples.cnsSamples(), samples.cns(), 1, 0, null, "")},
            {"heartrate", expected(samples.heartRateSamples(), doubles(samples.heartRates()), 1,
                                   0, null, "")},
            {"heading", expected(samples.bearingSamples(), doubles(samples.bearings()), 1, 0,
                                 null, "")},
            {"remainingbottomtime",
             expected(samples.remainingBottomTimeSamples(),
                      doubles(samples.remainingBottomTimes()), 60, 0, null, "")},
            {"nodecotime", expected(Arrays.stream(ndl).map(i -> decoSamples[i]).toArray(),
                                    Arrays.stream(ndl).mapToDouble(i -> decoTimes[i]).toArray(),
                                    1, 0, null, "")},
            {"decostop", expected(Arrays.stream(stops).map(i -> decoSamples[i]).toArray(),
                                  Arrays.stream(stops).mapToDouble(i -> decoDepths[i]).toArray(),
                                  1, 0, null, "")},
        };
        for (Object[] kind : kinds) {
            @SuppressWarnings("unchecked")
            List<Written> expected = (List<Written>) kind[1];
            assertWritten(expected, written.getOrDefault((String) kind[0], List.of()),
                          (String) kind[0]);
        }
        // Every kind of the dive is there, in the numbers of the real backend.
        assertEquals(List.of(3, 3, 1, 1), List.of(samples.pressureTanks().length > 0 ? 3 : 0,
                                                  tanks.size(), samples.bearings().length,
                                                  count(uddf, "//u:setmarker")));
        assertTrue(stops.length > 0 && ndl.length > 0 && samples.ppo2().length > 0);
        List<String> switchRefs = values(uddf, "//u:switchmix/@ref");
        assertEquals(Arrays.stream(switches).mapToObj(m -> "mix" + m).toList(), switchRefs);
        assertEquals(samples.gasSwitchSamples().length, switchRefs.size());
        assertEquals("closedcircuit", value(uddf, "//u:waypoint[1]/u:divemode/@type"));
        List<String> durations = values(uddf, "//u:decostop/@duration");
        assertEquals(Arrays.stream(stops).mapToObj(i -> String.valueOf((long) decoTimes[i]))
                         .toList(),
                     durations);
    }

    // Each event UDDF names as an alarm, a bookmark as a marker; the others and the end of an
    // alarm are no alarm.
    @Test
    void eventsBecomeTheAlarmsUddfNames() throws Exception {
        String[][] events = {
            // event line, the alarm or marker it becomes ("" for none)
            {"event decostop", "deco"},
            {"event ceiling 0 begin", "deco"},
            {"event violation", "deco"},
            {"event rbt", "rbt"},
            {"event ascent", "ascent"},
            {"event surface", "surface"},
            {"event workload", "breath"},
            {"event transmitter", "link"},
            {"event rgbm", "microbubbles"},
            {"event ascent 0 end", ""},
            {"event ceiling 0 3", "deco"},
            {"event safetystop", ""},
            {"event po2", ""},
            {"event 0xFFFFFFFF", ""},
            {"event bookmark", "bookmark"},
        };
        StringBuilder scenario = new StringBuilder("dive\ndatetime 2024-07-01 09:00:00\n");
        for (int i = 0; i < events.length; i++) {
            scenario.append("time ").append(i * 10).append("; depth 5; ").append(events[i][0])
                .append('\n');
        }
        Path port = Files.writeString(temporary.resolve("events.txt"), scenario);
        Path file = temporary.resolve("events.uddf");

        Tool.run("download", "--port", port.toString(), "--uddf", file.toString()).assertClean(0);

        assertValid(file);
        Document uddf = parse(file);
        for (int i = 0; i < events.length; i++) {
            String waypoint = "//u:waypoint[" + (i + 1) + "]/";
            assertEquals(events[i][1],
                         value(uddf, waypoint + "u:alarm") + value(uddf, waypoint + "u:setmarker"),
                         events[i][0]);
        }
    }

    @Test
    void everyOpenCircuitDiveOfTheBuiltInComputerIsValid() throws Exception {
        Path file = temporary.resolve("builtin.uddf");

        Tool.run("download", "--uddf", file.toString()).assertClean(0);

        assertValid(file);
        Document uddf = parse(file);
        assertEquals("20", value(uddf, "count(" + DIVE + ")"));
        assertEquals("20240401", value(uddf, "//u:divecomputer/u:serialnumber"));
        // Every waypoint has its time, and every reference leads to a mix or a tank.
        assertEquals(0, count(uddf, "//u:waypoint[not(u:divetime)]"));
        Set<String> ids = new HashSet<>(values(uddf, "//u:mix/@id | //u:tank/@id"));
        List<String> refs = values(uddf, "//u:switchmix/@ref | //u:tankpressure/@ref | "
                                             + "//u:tankdata/u:link/@ref");
        assertFalse(refs.isEmpty());
        assertTrue(ids.containsAll(refs), refs::toString);
    }

    /** A computer with serial 3 whose logbook holds `dives` open-circuit dives of June 2024. */
    private Path computerOfJune(int dives) throws Exception {
        StringBuilder scenario = new StringBuilder("devinfo 1 2 3\n");
        for (int dive = 1; dive <= dives; dive++) {
            scenario.append("dive\ndatetime 2024-06-0").append(dive).append(" 10:00:00 Z\n")
                .append("divemode oc\nmix 32 0\ntank 0 metric 12 232 210 60\n")
                .append("time 0; depth 0; gasmix 0; pressure 0 210\n")
                .append("time 60; depth 18; pressure 0 150; temperature 14\n")
                .append("time 120; depth 0; pressure 0 60\n");
        }
        return Files.writeString(temporary.resolve("june.txt"), scenario);
    }

    @Test
    void newOnlyWithNothingNewLeavesTheUddfFileAlone() throws Exception {
        Path file = temporary.resolve("dives.uddf");
        Path cache = temporary.resolve("cache");
        String[] arguments = {"download", "--new-only", "--cache", cache.toString(), "--uddf",
                              file.toString(), "--port", computerOfJune(2).toString()};
        Tool.run(arguments).assertClean(0);
        assertValid(file);
        Document first = parse(file);
        assertEquals(List.of("2024-06-01T10:00:00+00:00", "2024-06-02T10:00:00+00:00"),
                     List.of(value(first, DIVE + "[1]/u:informationbeforedive/u:datetime"),
                             value(first, "//u:repetitiongroup[2]/u:dive/u:informationbeforedive"
                                              + "/u:datetime")));
        assertEquals("open-scuba", value(first, DIVE + "[1]/u:informationbeforedive/u:apparatus"));
        assertEquals("opencircuit", value(first, "//u:waypoint[1]/u:divemode/@type"));
        assertEquals("1", value(first, "count(//u:gasdefinitions/u:mix)"), "one mix for both");
        Files.writeString(file, "the diver's copy");

        ChildProcess nothing = Tool.run(arguments).assertClean(0);

        assertTrue(nothing.stdout().endsWith("\nNo new dives.\n"), nothing::toString);
        assertEquals("the diver's copy", Files.readString(file));
        assertEquals(List.of(cache.getFileName(), file.getFileName(), Path.of("june.txt")),
                     CliTest.listing(temporary), "no temporary file is left");

        // The standard output still gets a document, without dives.
        arguments[5] = "-";
        ChildProcess toOut = Tool.run(arguments).assertClean(0);
        Path written = Files.writeString(temporary.resolve("out.uddf"), toOut.stdout());
        assertValid(written);
        assertEquals(0, count(parse(written), DIVE));
        assertTrue(CliTest.errors(toOut).endsWith("No new dives."), toOut::toString);
    }

    // Whatever keeps the UDDF from being written keeps the cache where it was, so that the next
    // --new-only brings the same dives again.
    @Test
    void aFailedUddfLeavesTheCacheAndTheFileAsTheyWere() throws Exception {
        Path cache = temporary.resolve("cache");
        Path clockless = Files.writeString(temporary.resolve("clockless.txt"),
                                           "dive\ndivetime 1:00\ntime 0; depth 0\n");
        Path kept = Files.writeString(temporary.resolve("kept.uddf"), "kept");
        String[][] cases = {
            {"cannot write /dev/full: No space left on device", "/dev/full", "dcsim:builtin"},
            {"cannot write " + kept + ": dive 1 has no date and time UDDF can hold "
                 + "(0000-00-00 00:00:00)",
             kept.toString(), clockless.toString()},
        };
        for (String[] failure : cases) {
            ChildProcess child = Tool.run("download", "--new-only", "--cache", cache.toString(),
                                          "--uddf", failure[1], "--port", failure[2])
                                     .assertClean(1);
            assertEquals("diveconnector: " + failure[0], CliTest.errors(child), child::toString);
            assertEquals(List.of(), Files.isDirectory(cache) ? CliTest.listing(cache) : List.of(),
                         child::toString);
        }
        assertEquals("kept", Files.readString(kept));
    }

    @Test
    void unusableTargetsAreRefusedBeforeTheTransfer() throws Exception {
        Path protectedFile = Files.writeString(temporary.resolve("dives.uddf"), "kept");
        Files.setPosixFilePermissions(protectedFile, PosixFilePermissions.fromString("r--r--r--"));
        String[][] cases = {
            {"1", "cannot write " + protectedFile + ": it is read-only", "--uddf",
             protectedFile.toString()},
            {"2", "--uddf needs a file name, not an empty one", "--uddf", ""},
            {"2", "--json - and --uddf - cannot both write the standard output", "--json", "-",
             "--uddf", "-"},
        };
        for (String[] failure : cases) {
            List<String> arguments = new ArrayList<>(List.of("download"));
            arguments.addAll(List.of(failure).subList(2, failure.length));
            ChildProcess child = Tool.run(arguments.toArray(String[]::new))
                                     .assertClean(Integer.parseInt(failure[0]));
            assertEquals("", child.stdout(), "no transfer starts\n" + child);
            assertTrue(CliTest.errors(child).startsWith("diveconnector: " + failure[1]),
                       child::toString);
        }
        assertEquals("kept", Files.readString(protectedFile));
    }

    // Also a computer without dives that never identified itself: a document without profile
    // data, gas definitions, serial number and firmware.
    @Test
    void uddfToTheStandardOutputPutsTheTableOnTheStandardError() throws Exception {
        Path empty = Files.writeString(temporary.resolve("empty.txt"), "events progress\n");
        String[][] cases = {
            {"dcsim:builtin", "20", "20 dives from Dcsim Reef Explorer, serial 20240401.", "1"},
            {empty.toString(), "0", "0 dives from Dcsim Reef Explorer, serial unknown.", "0"},
        };
        for (String[] computer : cases) {
            ChildProcess child =
                Tool.run("download", "--port", computer[0], "--uddf", "-").assertClean(0);

            Path file = Files.writeString(temporary.resolve("out.uddf"), child.stdout());
            assertValid(file);
            Document uddf = parse(file);
            assertEquals(computer[1], value(uddf, "count(" + DIVE + ")"));
            assertEquals(computer[3], value(uddf, "count(//u:divecomputer/u:serialnumber)"));
            assertEquals(computer[3], value(uddf, "count(//u:divecomputer/u:notes)"));
            assertTrue(CliTest.errors(child).endsWith(computer[2]), child::toString);
        }
        assertFalse(Files.exists(Path.of("-")), "no file named -");
    }

}
