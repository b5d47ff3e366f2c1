package diveconnector.details;

import java.util.Optional;

/** One gas mix the computer was set up with. Immutable. */
public final class GasMix {
    private final int index;
    private final double oxygen;
    private final double helium;
    private final double nitrogen;
    private final GasUsage usage;

    GasMix(int index, double oxygen, double helium, double nitrogen, int usage) {
        this.index = index;
        this.oxygen = oxygen;
        this.helium = helium;
        this.nitrogen = nitrogen;
        this.usage = usage < 0 ? null : GasUsage.of(usage);
    }

    /** The mix's number, as tanks and gas switches name it. */
    public int index() {
        return index;
    }

    /** The oxygen fraction, 0 to 1. */
    public double oxygen() {
        return oxygen;
    }

    /** The helium fraction, 0 to 1. */
    public double helium() {
        return helium;
    }

    /** The nitrogen fraction, 0 to 1. */
    public double nitrogen() {
        return nitrogen;
    }

    /** Whose gas it is; empty with libdivecomputer before 0.9, which does not say. */
    public Optional<GasUsage> usage() {
        return Optional.ofNullable(usage);
    }
}
