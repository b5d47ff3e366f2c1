package diveconnector.testing;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.Dive;
import brenquill.main.java.core.exceptions.NativeException;
import diveconnector.details.DecoModel;
import diveconnector.details.DiveDetails;
import diveconnector.details.DiveMode;
import diveconnector.details.DiveSamples;
import diveconnector.details.GasMix;
import diveconnector.details.GasUsage;
import diveconnector.details.Tank;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.OptionalDouble;
import java.util.OptionalInt;
import java.util.Set;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Each dive's details, for a connector that declares onDiveDetails. */
class DiveDetailsTest {
    private static final String HANDLER_FAILED = "[-]: The application's event handler failed.";

    /** A closed-circuit trimix dive: every field and sample kind. */
    static final String CLOSED_CIRCUIT = String.join("\n",
        "dive", "datetime 2024-06-01 10:00:00 -03:30", "divetime 50:00", "maxdepth 61.5",
        "avgdepth 32.25", "atmospheric 1.013", "temperature-surface 26",
        "temperature-minimum 11.5", "temperature-maximum 25", "salinity salt 1025",
        "divemode ccr", "decomodel buhlmann 2 30 70", "location 43.5 -7.25 12",
        "mix 18 45 diluent", "mix 100 0 oxygen", "mix 50 0", "tank 0 metric 3 232 200 120 diluent",
        "tank none imperial 80 207 190 60",
        "time 0; depth 0; temperature 25; pressure 0 200; pressure 1 190; gasmix 0",
        "setpoint 0.7; ppo2 0 0.69; ppo2 none 0.7; cns 0.05; heartbeat 90; bearing 270",
        "time 10; depth 6.5; event bookmark; event ascent 10 begin 3; deco ndl 99 0; rbt 45",
        "time 20; depth 60; deco decostop 120 9 1800; gasmix 2", "");

    /** Keeps every (dive, details) it is given, and whether the dive was in the set by then. */
    private static final class DetailsConnector extends DeviceConnector {
        final Set<Dive> dives = new HashSet<>();
        final List<DiveDetails> details = new ArrayList<>();
        final List<Dive> detailed = new ArrayList<>();
        boolean alreadyInSet;
        boolean fail;

        public void onDiveDetails(Dive dive, DiveDetails diveDetails) {
            if (fail) {
                throw new IllegalStateException("cannot store the details");
            }
            alreadyInSet |= dives.contains(dive);
            detailed.add(dive);
            details.add(diveDetails);
        }

        void download() throws NativeException {
            try {
                loadUserDivesFromDevice(Downloads.PORT, Downloads.VENDOR, Downloads.PRODUCT,
                                        dives);
            } finally {
                assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
            }
        }
    }

    @BeforeEach
    void resetDcsim() {
        DcSim.reset();
    }

    @Test
    void closedCircuitDiveArrivesWhole() throws Exception {
        Downloads.attach(CLOSED_CIRCUIT);
        DetailsConnector connector = new DetailsConnector();
        connector.download();

        assertEquals(1, connector.details.size());
        assertFalse(connector.alreadyInSet, "details come before the dive goes into the set");
        assertTrue(connector.dives.contains(connector.detailed.get(0)));
        boolean older = TestEnvironment.olderApi();
        DiveDetails details = connector.details.get(0);
        assertEquals(OptionalInt.of(-12600), details.timezoneOffset());
        assertEquals(OptionalDouble.of(32.25), details.averageDepth());
        assertEquals(OptionalDouble.of(1.013), details.atmosphericPressure());
        assertEquals(OptionalDouble.of(26), details.surfaceTemperature());
        assertEquals(OptionalDouble.of(11.5), details.minimumTemperature());
        assertEquals(OptionalDouble.of(25), details.maximumTemperature());
        assertEquals(Optional.of(DiveDetails.Water.SALT), details.water());
        assertEquals(OptionalDouble.of(1025), details.density());
        assertEquals(Optional.of(DiveMode.CLOSED_CIRCUIT), details.diveMode());
        DecoModel model = details.decoModel().orElseThrow();
        assertEquals(List.of(DecoModel.Type.BUHLMANN, 2, 30, 70),
                     List.of(model.type(), model.conservatism(), model.gradientFactorLow(),
                             model.gradientFactorHigh()));
        assertEquals(older, details.location().isEmpty());
        details.location().ifPresent(location -> {
            assertEquals(List.of(43.5, -7.25, 12.0),
                         List.of(location.latitude(), location.longitude(), location.altitude()));
        });

        List<GasMix> mixes = details.gasMixes();
        assertEquals(3, mixes.size());
        assertEquals(List.of(0, 0.18, 0.45, 0.37),
                     List.of(mixes.get(0).index(), mixes.get(0).oxygen(), mixes.get(0).helium(),
                             Math.round(mixes.get(0).nitrogen() * 100) / 100.0));
        assertEquals(older ? Optional.empty() : Optional.of(GasUsage.DILUENT),
                     mixes.get(0).usage());
        assertEquals(older ? Optional.empty() : Optional.of(GasUsage.OXYGEN),
                     mixes.get(1).usage());
        List<Tank> tanks = details.tanks();
        assertEquals(2, tanks.size());
        Tank diluent = tanks.get(0);
        assertEquals(List.of(OptionalInt.of(0), Tank.VolumeType.METRIC, 3.0, 232.0, 200.0, 120.0),
                     List.of(diluent.gasMix(), diluent.volumeType(), diluent.volume(),
                             diluent.workPressure(), diluent.beginPressure(),
                             diluent.endPressure()));
        assertEquals(OptionalInt.empty(), tanks.get(1).gasMix());
        assertEquals(Tank.VolumeType.IMPERIAL, tanks.get(1).volumeType());

        DiveSamples samples = details.samples();
        assertArrayEquals(new double[] {0, 10, 20}, samples.times());
        assertArrayEquals(new int[] {0, 1, 2}, samples.depthSamples());
        assertArrayEquals(new double[] {0, 6.5, 60}, samples.depths());
        assertArrayEquals(new int[] {0, 0}, samples.pressureSamples());
        assertArrayEquals(new int[] {0, 1}, samples.pressureTanks());
        assertArrayEquals(new double[] {200, 190}, samples.pressures());
        assertArrayEquals(new double[] {25}, samples.temperatures());
        // Two events at one time sample, both kept.
        assertArrayEquals(new int[] {1, 1}, samples.eventSamples());
        assertArrayEquals(new int[] {8, 3}, samples.eventTypes());
        assertArrayEquals(new int[] {0, 10}, samples.eventTimes());
        assertArrayEquals(new int[] {0, DiveSamples.EVENT_BEGIN}, samples.eventFlags());
        assertArrayEquals(new int[] {0, 3}, samples.eventValues());
        assertArrayEquals(new int[] {1}, samples.remainingBottomTimeSamples());
        assertArrayEquals(new int[] {45}, samples.remainingBottomTimes());
        assertArrayEquals(new int[] {90}, samples.heartRates());
        assertArrayEquals(new int[] {270}, samples.bearings());
        assertArrayEquals(new double[] {0.7}, samples.setpoints());
        assertArrayEquals(new int[] {0, 0}, samples.ppo2Samples());
        assertArrayEquals(older ? new int[] {DiveSamples.ABSENT, DiveSamples.ABSENT}
                                : new int[] {0, DiveSamples.ABSENT},
                          samples.ppo2Sensors());
        assertArrayEquals(new double[] {0.69, 0.7}, samples.ppo2());
        assertArrayEquals(new double[] {0.05}, samples.cns());
        assertArrayEquals(new int[] {1, 2}, samples.decoSamples());
        assertArrayEquals(new int[] {DiveSamples.DECO_NDL, DiveSamples.DECO_STOP},
                          samples.decoTypes());
        assertArrayEquals(new int[] {99, 120}, samples.decoTimes());
        assertArrayEquals(new double[] {0, 9}, samples.decoDepths());
        assertArrayEquals(older ? new int[] {DiveSamples.ABSENT, DiveSamples.ABSENT}
                                : new int[] {0, 1800},
                          samples.decoTimesToSurface());
        assertArrayEquals(new int[] {0, 2}, samples.gasSwitchSamples());
        assertArrayEquals(new int[] {0, 2}, samples.gasSwitches());

        // The dive itself is the one a connector without the method gets.
        DcSim.reset();
        Downloads.attach(CLOSED_CIRCUIT);
        Set<Dive> plainDives = new HashSet<>();
        Downloads.download(plainDives);
        assertSameDives(plainDives, connector);
    }

    /** The connector got the one dive of `plainDives`, every series and the gas the same. */
    private static void assertSameDives(Set<Dive> plainDives, DetailsConnector connector) {
        assertEquals(1, plainDives.size());
        assertEquals(plainDives, connector.dives);
        Dive plain = plainDives.iterator().next();
        Dive detailed = connector.detailed.get(0);
        assertArrayEquals(plain.getTimeProfile(), detailed.getTimeProfile());
        assertArrayEquals(plain.getDepthProfile(), detailed.getDepthProfile());
        assertArrayEquals(plain.getPressureProfile(), detailed.getPressureProfile());
        assertArrayEquals(plain.getTemperatureProfile(), detailed.getTemperatureProfile());
        assertArrayEquals(plain.getEventProfile(), detailed.getEventProfile());
        assertEquals(plain.getGas(), detailed.getGas());
    }

    // The scenario the tool's tests use is the emulated Perdix 2's dive of the real-library tests,
    // whose details there are what the real Shearwater backend parses (shearwater_petrel.py).
    @Test
    void theClosedCircuitScenarioGivesWhatTheRealShearwaterBackendGives() throws Exception {
        Assumptions.assumeFalse(TestEnvironment.olderApi(), "the real 0.9 backend's details");
        Path emulator = TestEnvironment.path("bluez.mock").resolveSibling("shearwater_petrel.py");
        String expected = ChildProcess
                              .run(List.of("/usr/bin/python3", emulator.toString(),
                                           "--scenario-details"),
                                   Map.of())
                              .assertClean(0)
                              .stdout();
        DcSim.descriptorsLoadTsv(TestEnvironment.descriptorTable("0.9.0").toString());
        DetailsConnector connector = new DetailsConnector();
        try {
            connector.loadUserDivesFromDevice(CliTest.closedCircuitScenario().toString(),
                                              "Shearwater", "Petrel 2", connector.dives);
        } finally {
            assertEquals(0, DcSim.liveTotal(), DcSim::liveSummary);
        }
        assertEquals(1, connector.details.size());
        // The scenario writes the backend's numbers with at most four decimals.
        DetailsRendering.assertDetails(JsonReader.read(expected), connector.details.get(0),
                                       0.00005, "closed circuit");
    }

    @Test
    void unreportedFieldsAreEmptyAndReportedZerosStay() throws Exception {
        Downloads.attach("dive\natmospheric 0\ntank 0 none 0 0 0 0\ntime 0\n");
        DetailsConnector connector = new DetailsConnector();
        connector.download();

        DiveDetails details = connector.details.get(0);
        assertEquals(OptionalInt.empty(), details.timezoneOffset());
        assertEquals(OptionalDouble.empty(), details.averageDepth());
        assertEquals(OptionalDouble.of(0), details.atmosphericPressure());
        assertEquals(OptionalDouble.empty(), details.surfaceTemperature());
        assertEquals(Optional.empty(), details.diveMode());
        assertEquals(Optional.empty(), details.decoModel());
        assertEquals(Optional.empty(), details.water());
        assertEquals(Optional.empty(), details.location());
        assertEquals(List.of(), details.gasMixes());
        assertEquals(0.0, details.tanks().get(0).beginPressure());
        assertArrayEquals(new double[] {0}, details.samples().times());
        assertArrayEquals(new int[0], details.samples().eventSamples());
    }

    /** A detail that fails to parse is left out and logged; the dive arrives whole. */
    @Test
    void aDetailThatFailsToParseIsLeftOutAndTheDiveKept(@TempDir Path temporary)
        throws Exception {
        String dive = CLOSED_CIRCUIT + "fault field tank io\nfault field avgdepth dataformat\n";
        Downloads.attach(dive);
        Set<Dive> plainDives = new HashSet<>();
        Downloads.download(plainDives);

        Path log = temporary.resolve("support.log");
        System.setProperty("diveconnector.log", log.toString());
        DetailsConnector connector = new DetailsConnector();
        try {
            DcSim.reset();
            Downloads.attach(dive);
            connector.download();
        } finally {
            System.clearProperty("diveconnector.log");
        }

        assertSameDives(plainDives, connector);
        DiveDetails details = connector.details.get(0);
        assertEquals(OptionalDouble.empty(), details.averageDepth());
        assertEquals(List.of(), details.tanks());
        assertEquals(OptionalDouble.of(1.013), details.atmosphericPressure());
        assertEquals(3, details.gasMixes().size());
        assertArrayEquals(new double[] {0, 10, 20}, details.samples().times());
        String text = Files.readString(log);
        assertTrue(text.contains("WARNING diveconnector: Dive 1: DC_FIELD_AVGDEPTH answered "
                                 + "status -9; the dive's details leave the average depth out."),
                   text);
        assertTrue(text.contains("Dive 1: DC_FIELD_TANK 1 answered status -6; the dive's "
                                 + "details leave tank 1 out."),
                   text);
    }

    @Test
    void throwingOnDiveDetailsFailsTheDownloadWithoutLeaks() {
        Downloads.attach(CLOSED_CIRCUIT + CLOSED_CIRCUIT.replace("2024-06-01", "2024-06-02"));
        DetailsConnector connector = new DetailsConnector();
        connector.fail = true;
        NativeException thrown = assertThrows(NativeException.class, connector::download);
        assertEquals(HANDLER_FAILED, thrown.getMessage());
        assertEquals(Set.of(), connector.dives, "the failing dive never went into the set");
    }
}
