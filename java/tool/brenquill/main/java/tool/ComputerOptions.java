package brenquill.main.java.tool;

import java.util.List;
import java.util.Optional;

/**
 * The options that name the dive computer to connect to: its port and its model.
 *
 * <p>A build over the simulated libdivecomputer names its built-in dive computer in the system
 * properties {@code diveconnector.default.port}, {@code .vendor} and {@code .product}; they stand
 * in for options that are not given. Without them the port, vendor and product must be given.
 */
final class ComputerOptions {
    /** The first line of a download or dump in such a build: no diver may take it for a real one. */
    static final String SIMULATED =
        "Simulated dive computer: this build uses dcsim, not libdivecomputer.";
    private static final String DEFAULT_PROPERTY_PREFIX = "diveconnector.default.";
    private static final String PORT = "--port";
    private static final String VENDOR = "--vendor";
    private static final String PRODUCT = "--product";

    /** The dive computer the options name. */
    record Computer(String port, String vendor, String product) {}

    private ComputerOptions() {}

    static List<Option> options() {
        return List.of(
            new Option(PORT, "NAME", "Port of the dive computer" + defaultNote("port") + "."),
            new Option(VENDOR, "V", "Vendor of its model, as 'list' prints it"
                                        + defaultNote("vendor") + "."),
            new Option(PRODUCT, "P", "Product of its model" + defaultNote("product") + "."));
    }

    /** The computer the command's options name; a usage error when one cannot be had. */
    static Computer of(String command, Arguments arguments) throws UsageException {
        return new Computer(required(command, arguments, PORT, "NAME", "port"),
                            required(command, arguments, VENDOR, "V", "vendor"),
                            required(command, arguments, PRODUCT, "P", "product"));
    }

    /** Whether this build runs over dcsim, the simulated libdivecomputer. */
    static boolean simulated() {
        return buildDefault("port").isPresent();
    }

    private static Optional<String> buildDefault(String option) {
        return Optional.ofNullable(System.getProperty(DEFAULT_PROPERTY_PREFIX + option))
            .filter(value -> !value.isEmpty());
    }

    private static String defaultNote(String option) {
        return buildDefault(option).map(value -> " (default: " + value + ")").orElse("");
    }

    /** The option's value, else the build's simulated computer's, else a usage error. */
    private static String required(String command, Arguments arguments, String option,
                                   String valueName, String property) throws UsageException {
        Optional<String> value = arguments.value(option).or(() -> buildDefault(property));
        if (value.isEmpty()) {
            throw new UsageException(
                command + " needs " + option + " " + valueName
                + " (this build has no simulated dive computer to default to)");
        }
        return value.get();
    }
}
