package brenquill.main.java.tool;

import brenquill.main.java.core.Dive;
import diveconnector.details.DiveDetails;
import java.util.Comparator;
import java.util.Optional;

/**
 * A downloaded dive with everything else its computer recorded. The details are empty only when
 * the library did not hand them over for this dive; a writer then writes what the dive holds.
 */
record DownloadedDive(Dive dive, Optional<DiveDetails> details) {
    static final Comparator<DownloadedDive> OLDEST_FIRST =
        Comparator.comparing(DownloadedDive::dive, DiveOrder.OLDEST_FIRST);
}
