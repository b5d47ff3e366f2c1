package brenquill.main.java.tool;

import brenquill.main.java.core.exceptions.NativeException;
import java.util.List;
import java.util.Optional;

/**
 * The options that name the dive computer to connect to: its port and its model.
 *
 * <p>A build over the simulated libdivecomputer names its built-in dive computer in the system
 * properties {@code diveconnector.default.port}, {@code .vendor} and {@code .product}; they stand
 * in for options that are not given. Without them the port and the model must be given.
 */
final class ComputerOptions {
    /** The first line of a download or dump in such a build: no diver may take it for a real one. */
    static final String SIMULATED =
        "Simulated dive computer: this build uses dcsim, not libdivecomputer.";
    private static final String DEFAULT_PROPERTY_PREFIX = "diveconnector.default.";
    private static final String PORT = "--port";
    private static final String VENDOR = "--vendor";
    private static final String PRODUCT = "--product";
    private static final String MODEL = "--model";
    private static final String NO_DEFAULT =
        " (this build has no simulated dive computer to default to)";

    /** The dive computer the options name, its model as the library names it. */
    record Computer(String port, Models.Model model) {
        String vendor() {
            return model.vendor();
        }

        String product() {
            return model.product();
        }

        /** The port for a sentence: an empty one is named as such. */
        String portName() {
            if (!port.isEmpty()) {
                return port;
            }
            Optional<Transport> transport = Transport.chosen(port, model.transports());
            return transport.isPresent() && transport.get() != Transport.SERIAL
                       ? "the first " + transport.get().title() + " computer found"
                       : "an empty port name";
        }
    }

    private ComputerOptions() {}

    static List<Option> options() {
        return List.of(
            new Option(PORT, "NAME", "Port of the dive computer" + defaultNote("port") + "."),
            new Option(VENDOR, "V", "Vendor of its model, as 'list' prints it"
                                        + defaultNote("vendor") + "."),
            new Option(PRODUCT, "P", "Product of its model" + defaultNote("product") + "; in\n"
                                         + "any case, without --vendor when one vendor has it."),
            new Option(MODEL, "\"V P\"", "Vendor and product in one, instead of both."));
    }

    /**
     * The computer the command's options name: a usage error when one cannot be had, a failure
     * when the library has no such model.
     */
    static Computer of(String command, Arguments arguments)
        throws UsageException, NativeException, CommandFailure {
        String port = required(command, arguments, PORT, "NAME", "port");
        Optional<String> model = arguments.value(MODEL);
        Optional<String> vendor = arguments.value(VENDOR);
        Optional<String> product = arguments.value(PRODUCT);
        if (model.isPresent()) {
            if (vendor.isPresent() || product.isPresent()) {
                throw new UsageException(MODEL + " names vendor and product; give it without "
                                         + VENDOR + " and " + PRODUCT);
            }
            return new Computer(port, Models.fromLibrary().named(model.get()));
        }
        if (product.isPresent()) {
            return new Computer(port, Models.fromLibrary().find(vendor, product.get()));
        }
        // The build's simulated computer stands in only for a model not named at all.
        Optional<String> theVendor = vendor.or(() -> buildDefault("vendor"));
        if (theVendor.isEmpty()) {
            throw new UsageException(command + " needs " + PRODUCT + " P or " + MODEL + " \"V P\""
                                     + NO_DEFAULT);
        }
        return new Computer(port, Models.fromLibrary().find(
                                      theVendor, required(command, arguments, PRODUCT, "P",
                                                          "product")));
    }

    /** Whether this build runs over dcsim, the simulated libdivecomputer. */
    static boolean simulated() {
        return buildDefault("port").isPresent();
    }

    /** Whether the port is the build's simulated computer, dcsim's built-in one. */
    static boolean simulatedPort(String port) {
        return buildDefault("port").equals(Optional.of(port));
    }

    /** The model of the build's simulated computer, "Dcsim Reef Explorer". */
    static String simulatedModel() {
        return buildDefault("vendor").orElse("") + " " + buildDefault("product").orElse("");
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
                + NO_DEFAULT);
        }
        return value.get();
    }
}
