// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The nodes of the compiled-in device table as simulated NOR flash kept in image files of one
// directory: DIR/NAME.img for node /dev/NAME, sized for the table's areas, with the table's sector
// size as erase size.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "TableNodes.h"

// A node of the table and the image file that holds its bytes.
struct ImageNode {
    norsim::TableNode node;
    std::string image;
};

class FlashImages {
public:
    explicit FlashImages(const std::string& dir);

    const std::vector<ImageNode>& nodes() const { return m_nodes; }
    // The nodes as the simulator's NORSIM_NODES variable names them.
    std::string nodesVariable() const;
    // Makes the directory of the images, but none of its parents, and says on `log` which images the
    // simulator is about to create erased. Throws std::runtime_error when the directory cannot be made
    // or an image has another size than its node.
    void prepare(std::ostream& log) const;
    // How often each sector of each node was erased, from the counts the simulator keeps beside the
    // images. Throws std::runtime_error when an image does not exist or its counts cannot be read.
    void printWear(std::ostream& out) const;

private:
    std::string m_dir;  // as the user named it
    std::vector<ImageNode> m_nodes;
};
