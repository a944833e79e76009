#pragma once

#include "ui/UpdateFlow.h"

#include <vector>

// Records the fractions a run reports to its view, each as it comes; everything else is dropped.
class ProgressRecorder : public UpdateFlowView {
public:
    void setStatus(std::string) override {}
    void setProgress(double fraction) override { fractions.push_back(fraction); }
    void showReleaseText(std::vector<ChangelogEntry>) override {}
    void showPlayButton(std::string, bool) override {}
    void showPlayable(std::string, std::string) override {}
    void showVersionState(std::string) override {}
    void storeManifest(Manifest) override {}

    std::vector<double> fractions;
};
