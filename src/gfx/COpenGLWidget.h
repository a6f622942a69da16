// The 3D test's window: an OpenGL scene of five lit spheres, four of them
// textured with checkerboards, drawn by the GUI thread each time the test
// thread asks for a repaint. Every frame counts into renderCount and slot 5's
// operation count. The user cannot close it; the run deletes it at the stop.
#pragma once

#include "RepaintRelay.h"

#include <QOpenGLWidget>

#include <atomic>

struct GLUquadric;

class COpenGLWidget : public QOpenGLWidget {
public:
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 200;
    static constexpr int kTexSize = 64;
    static constexpr int kNumTextures = 4;
    // Operations one frame counts: 5 spheres of 32 x 32 quads, 2 triangles each.
    static constexpr int kOpsPerFrame = 5 * 32 * 32 * 2;

    // Animation state: written by the test thread, read by the GUI thread;
    // it carries over from one run to the next.
    static std::atomic<int> HourOfDay; // 0..350, steps of 10 degrees
    static std::atomic<int> zDisplacement; // -50..50, steps of 10
    static std::atomic<int> zDirection; // sign of the next step
    static std::atomic<int> lightPositionAngle; // 0..359 degrees
    // Frames rendered; the test sets it to 0 at its start.
    static std::atomic<int> renderCount;

    // The four checkerboards, 8 x 8-pixel checkers in red, green, blue and
    // black, each with white; filled by makeCheckImage.
    static GLubyte checkImage[kNumTextures][kTexSize][kTexSize][4];
    static void makeCheckImage();

    // A top-level, fixed-size window asking for a double-buffered RGBA
    // surface with a depth buffer. GUI thread.
    explicit COpenGLWidget(QWidget* parent = nullptr);
    ~COpenGLWidget() override;

    // Asks the live 3D window, if there is one, for a repaint. Any thread.
    static void requestRepaint();

    // Test-only: makes the frames' quadrics instead of gluNewQuadric. Null
    // restores it. GUI thread.
    using QuadricMaker = GLUquadric* (*)();
    static void SetQuadricMaker(QuadricMaker maker);

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

    GLuint texName = 0;
    // A frame found no quadric to draw with, and that was reported.
    bool m_quadricMissing = false;
};
