// The 3D test's window: an OpenGL scene of five lit spheres, four of them
// textured with checkerboards, drawn by the GUI thread as the slot's
// Graphics3DLive stands each time the test thread asks for a repaint. Every
// frame counts into its renderCount and the slot's operation count. The user
// cannot close it; the run deletes it at the stop.
#pragma once

#include "GraphicsEngines.h"
#include "RepaintRelay.h"

#include <QOpenGLWidget>

#include <memory>

class Run;
struct GLUquadric;

class COpenGLWidget : public QOpenGLWidget {
public:
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 200;
    static constexpr int kTexSize = 64;
    static constexpr int kNumTextures = 4;
    // Operations one frame counts: 5 spheres of 32 x 32 quads, 2 triangles each.
    static constexpr int kOpsPerFrame = 5 * 32 * 32 * 2;

    // The four checkerboards, 8 x 8-pixel checkers in red, green, blue and
    // black, each with white; filled by makeCheckImage.
    static GLubyte checkImage[kNumTextures][kTexSize][kTexSize][4];
    static void makeCheckImage();

    // A top-level, fixed-size window of `slot` asking for a double-buffered
    // RGBA surface with a depth buffer; it takes the slot's repaint requests
    // from now on. GUI thread.
    COpenGLWidget(const Run& run, int slot, QWidget* parent = nullptr);
    ~COpenGLWidget() override;

    // Makes the frames' quadrics instead of gluNewQuadric (a test's fault);
    // null restores it. GUI thread.
    using QuadricMaker = GLUquadric* (*)();
    void setQuadricMaker(QuadricMaker maker);

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    // Ignored: the window stays while the test runs.
    void closeEvent(QCloseEvent* event) override;

private:
    void init();
    void initTextureMapping();
    void initLightCondition();
    void initViewport(int w, int h);
    void animate();
    void traceMissingFeatures();

    Graphics3DLive& m_live;
    const int m_slot;
    const std::shared_ptr<RepaintRelay> m_repaint = std::make_shared<RepaintRelay>();
    QuadricMaker m_newQuadric;
    GLuint texName = 0;
    // A frame found no quadric to draw with, and that was reported.
    bool m_quadricMissing = false;
};
